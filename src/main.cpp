// Quorvel Desktop Overlay: plays the shaders of "shader_sequence.txt" over a
// snapshot of the desktop, clocked by the playing position of "music.ogg".

#include "audio_device.hpp"
#include "capture/capture.hpp"
#include "platform/platform.hpp"
#include "regular_file.hpp"
#include "sequence/shader_sequence.hpp"
#include "switch_rule.hpp"

#include <SFML/Audio/Music.hpp>
#include <SFML/Graphics.hpp>

#include <cstddef>
#include <iostream>
#include <string>
#include <vector>

int main()
{
    // SFML aborts the process when it cannot reach a display; say why and end instead.
    const std::string displayProblem = platform::displayProblem();
    if (!displayProblem.empty())
    {
        std::cerr << displayProblem << std::endl;
        return -1;
    }
    platform::endOnDisplayLoss();

    const platform::ScreenSize screenSize = platform::primaryScreenSize();
    const int screenWidth = screenSize.width;
    const int screenHeight = screenSize.height;

    const sf::ContextSettings settings(0, 0, 0, 1, 1, 0, false);
    sf::RenderWindow window(sf::VideoMode(static_cast<unsigned>(screenWidth), static_cast<unsigned>(screenHeight), 32),
                            "Quorvel Desktop Overlay", sf::Style::None, settings);
    const sf::WindowHandle hwnd = window.getSystemHandle();
    platform::makeWindowTopmost(hwnd);

    // Taken now: the overlay exists but has not drawn, so the desktop is still what shows.
    sf::Texture desktopTexture = captureDesktop();
    platform::placeOverPrimaryMonitor(hwnd);
    sf::Sprite background(desktopTexture);

    std::vector<ShaderItem> shaderSequence = loadShaderSequence("shader_sequence.txt");
    if (shaderSequence.empty())
    {
        std::cerr << "Nessuna shader caricata!" << std::endl;
        return -1;
    }

    sf::Music music;
    if (!isRegularFile("music.ogg") || !music.openFromFile("music.ogg"))
    {
        std::cerr << "Errore nel caricamento della musica!" << std::endl;
        return -1;
    }
    // Without a sound device nothing can play: SFML's streaming thread would
    // spin retrying, writing failed OpenAL calls by the million, and every read
    // of the position would add five lines more. Say so once, leave the stream
    // stopped and use the 0 the position would read; the show holds its first step.
    const bool musicCanPlay = audioDeviceIsOpen();
    if (musicCanPlay)
        music.play();
    else
        std::cerr << "Nessun dispositivo audio: la musica non suona e la sequenza resta ferma." << std::endl;

    std::size_t currentShaderIndex = 0;
    float shaderStartTime = 0.0f;
    const sf::Vector2f resolution(static_cast<float>(screenWidth), static_cast<float>(screenHeight));

    // The frame loop: unthrottled, clocked only by the music's playing position.
    while (window.isOpen())
    {
        sf::Event event;
        while (window.pollEvent(event))
        {
            const bool escape = event.type == sf::Event::KeyPressed && event.key.code == sf::Keyboard::Escape;
            if (event.type == sf::Event::Closed || escape)
                window.close();
        }

        const float musicTime = musicCanPlay ? music.getPlayingOffset().asSeconds() : 0.0f;
        const ShaderItem& current = shaderSequence[currentShaderIndex];
        if (applySwitchRule(musicTime, current.durationSeconds, shaderSequence.size(), currentShaderIndex,
                            shaderStartTime))
            std::cout << "Shader cambiata -> indice " << currentShaderIndex << std::endl;

        // The step taken before the switch test: on a switching frame the outgoing
        // shader is drawn once more, with time 0.
        sf::Shader& shader = *current.shader;
        shader.setUniform("time", musicTime - shaderStartTime);
        shader.setUniform("resolution", resolution);

        window.clear(sf::Color(0, 0, 0, 255));
        window.draw(background, sf::RenderStates(&shader));
        window.display();
    }

    return 0;
}
