// The least a frame of the player can cost: the same window, a sprite of a
// screen-sized texture drawn through one shader, music streaming, and
// nothing else. No capture, no sequence file, no position reads, no switch.
//   floor_loop SHADER MUSIC SECONDS

#include <SFML/Audio/Music.hpp>
#include <SFML/Graphics.hpp>

#include <cstdlib>
#include <iostream>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 4)
    {
        std::cerr << "usage: floor_loop SHADER MUSIC SECONDS\n";
        return 2;
    }
    const sf::VideoMode desktop = sf::VideoMode::getDesktopMode();
    sf::RenderWindow window(sf::VideoMode(desktop.width, desktop.height, 32), "floor", sf::Style::None,
                            sf::ContextSettings(0, 0, 0, 1, 1, 0, false));
    // Where the player puts its window: over the whole screen. SFML's own
    // placement leaves part of it off-screen, which would make presenting cheaper.
    window.setPosition(sf::Vector2i(0, 0));
    sf::Texture texture;
    texture.create(desktop.width, desktop.height);
    std::vector<sf::Uint8> pixels(static_cast<std::size_t>(desktop.width) * desktop.height * 4, 128);
    texture.update(pixels.data());
    pixels = {};
    sf::Sprite sprite(texture);
    sf::Shader shader;
    if (!shader.loadFromFile(argv[1], sf::Shader::Fragment))
        return 1;
    sf::Music music;
    if (!music.openFromFile(argv[2]))
        return 1;
    music.play();
    const sf::Vector2f resolution(static_cast<float>(desktop.width), static_cast<float>(desktop.height));
    const sf::Time runFor = sf::seconds(static_cast<float>(std::atof(argv[3])));
    sf::Clock clock;
    while (window.isOpen() && clock.getElapsedTime() < runFor)
    {
        sf::Event event;
        while (window.pollEvent(event))
        {
        }
        shader.setUniform("time", clock.getElapsedTime().asSeconds());
        shader.setUniform("resolution", resolution);
        window.clear(sf::Color::Black);
        window.draw(sprite, sf::RenderStates(&shader));
        window.display();
    }
    return 0;
}
