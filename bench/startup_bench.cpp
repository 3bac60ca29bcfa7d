// Start-up of the player, step by step, with the program's own functions and
// in its order: screen size, display check, OpenGL set-up, window creation
// (with the snapshot taken when the window is mapped), topmost request,
// capture, placement, loading the sequence, music open, first presented frame.
// Run in a show folder (bench/run.sh uses examples/show).

#include "capture/capture.hpp"
#include "platform/platform.hpp"
#include "sequence/shader_sequence.hpp"

#include <SFML/Audio/Music.hpp>
#include <SFML/Graphics.hpp>

#include <chrono>
#include <cstdio>
#include <optional>
#include <sstream>
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
    const std::string display = platform::displayProblem();
    withoutShaders += watch.lap("display check");
    if (!display.empty())
        return 1;
    sf::RenderWindow window;
    withoutShaders += watch.lap("OpenGL set-up (shared context)");
    std::optional<platform::ScreenPixels> snapshotAtMap;
    {
        platform::WindowCreationGuard guard("Quorvel Desktop Overlay");
        window.create(sf::VideoMode(size.width, size.height, 32), "Quorvel Desktop Overlay", sf::Style::None,
                      sf::ContextSettings(0, 0, 0, 1, 1, 0, false));
        withoutShaders += watch.lap("window creation (grab at map)");
        snapshotAtMap = guard.snapshotAtMap();
        withoutShaders += watch.lap(snapshotAtMap ? "snapshot at map: waited" : "no snapshot at map");
    }
    platform::makeWindowTopmost(window.getSystemHandle());
    withoutShaders += watch.lap("topmost request");

    sf::Texture texture = snapshotAtMap ? textureFromSnapshot(*snapshotAtMap) : captureDesktop();
    snapshotAtMap.reset();
    withoutShaders += watch.lap("capture (upload, or grab and upload)");
    platform::placeOverPrimaryMonitor(window.getSystemHandle());
    withoutShaders += watch.lap("placement");
    sf::Sprite background(texture);

    std::ostringstream console;
    const std::vector<ShaderItem> sequence = loadShaderSequence("shader_sequence.txt", console, console);
    watch.lap(("load sequence (" + std::to_string(sequence.size()) + " shaders)").c_str());
    if (sequence.empty())
        return 1;

    sf::Music music;
    music.openFromFile("music.ogg");
    withoutShaders += watch.lap("music open");
    music.play();
    withoutShaders += watch.lap("music start");

    window.clear(sf::Color(0, 0, 0, 255));
    window.draw(background, sf::RenderStates(sequence.front().shader.get()));
    window.display();
    withoutShaders += watch.lap("first frame presented");

    std::printf("  %-34s %8.2f ms\n", "total", watch.totalMs);
    std::printf("  %-34s %8.2f ms   (target <= 50 ms)\n", "total without shader compiles", withoutShaders);
    return 0;
}
