// Start-up of the player, step by step, with the program's own functions and
// in its order: screen size, window creation, topmost request, grab, texture
// upload, placement, each shader compile, music open, first presented frame.
// Run in a show folder (bench/run.sh uses examples/show).

#include "platform/platform.hpp"
#include "sequence/shader_sequence.hpp"

#include <SFML/Audio/Music.hpp>
#include <SFML/Graphics.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace
{

using Clock = std::chrono::steady_clock;

struct Stopwatch
{
    Clock::time_point last = Clock::now();
    double totalMs = 0;
    double lap(const char* what)
    {
        const Clock::time_point now = Clock::now();
        const double ms = std::chrono::duration<double, std::milli>(now - last).count();
        last = now;
        totalMs += ms;
        std::printf("  %-34s %8.2f ms\n", what, ms);
        return ms;
    }
};

} // namespace

int main()
{
    Stopwatch watch;
    double withoutShaders = 0;

    const platform::ScreenSize size = platform::primaryScreenSize();
    withoutShaders += watch.lap("screen size");
    sf::RenderWindow window(sf::VideoMode(size.width, size.height, 32), "Quorvel Desktop Overlay", sf::Style::None,
                            sf::ContextSettings(0, 0, 0, 1, 1, 0, false));
    withoutShaders += watch.lap("window creation");
    platform::makeWindowTopmost(window.getSystemHandle());
    withoutShaders += watch.lap("topmost request");

    sf::Texture texture;
    {
        const platform::ScreenPixels pixels = platform::grabPrimaryScreen();
        withoutShaders += watch.lap("capture (grab)");
        texture.create(pixels.width, pixels.height);
        texture.update(pixels.bgrx.data());
        withoutShaders += watch.lap("texture upload");
    }
    platform::placeOverPrimaryMonitor(window.getSystemHandle());
    withoutShaders += watch.lap("placement");
    sf::Sprite background(texture);

    std::ifstream file("shader_sequence.txt");
    std::string line;
    sf::Shader* first = nullptr;
    std::vector<std::unique_ptr<sf::Shader>> shaders;
    while (std::getline(file, line))
        if (const std::optional<SequenceLine> step = parseSequenceLine(line))
        {
            shaders.push_back(std::make_unique<sf::Shader>());
            shaders.back()->loadFromFile(step->shaderPath, sf::Shader::Fragment);
            watch.lap(("compile " + step->shaderPath).c_str());
            if (first == nullptr)
                first = shaders.back().get();
        }

    sf::Music music;
    music.openFromFile("music.ogg");
    withoutShaders += watch.lap("music open");
    music.play();
    withoutShaders += watch.lap("music start");

    window.clear(sf::Color(0, 0, 0, 255));
    window.draw(background, sf::RenderStates(first));
    window.display();
    withoutShaders += watch.lap("first frame presented");

    std::printf("  %-34s %8.2f ms\n", "total", watch.totalMs);
    std::printf("  %-34s %8.2f ms   (target <= 50 ms)\n", "total without shader compiles", withoutShaders);
    return 0;
}
