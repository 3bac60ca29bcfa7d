// quorvel-preview: rehearses a show in an ordinary window. The show is drawn
// as the player draws it (the same loader, switch rule, uniforms and
// snapshot bytes) with the music as the clock; keys pause, jump between
// steps and loop one; a saved file is reloaded at once, and a shader that
// no longer compiles keeps its last good version on screen while its error
// is shown.

#include "audio_device.hpp"
#include "capture/capture.hpp"
#include "draw_step.hpp"
#include "music_clock.hpp"
#include "platform/platform.hpp"
#include "preview/show_files.hpp"
#include "regular_file.hpp"
#include "sequence/shader_sequence.hpp"
#include "show/compiler_log.hpp"
#include "switch_rule.hpp"

#include <SFML/Audio/Music.hpp>
#include <SFML/Graphics.hpp>
#include <SFML/System/Err.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

const char* const usage = "usage: quorvel-preview [--desktop PICTURE] [SHOW_FOLDER]\n"
                          "Rehearses the show in SHOW_FOLDER (default: the current folder) in a window.\n"
                          "  --desktop PICTURE  a PNG or JPEG standing in for the desktop (default: a snapshot)\n"
                          "Keys: Space pause/resume, Left/Right previous/next step, Home restart,\n"
                          "L loop the current step, Escape quit. Saved files are reloaded at once.\n";
const char* const titleStart = "Quorvel preview";
const char* const sequenceFileName = "shader_sequence.txt";
const char* const musicFileName = "music.ogg";

// One step as the preview holds it: the line it came from and the last
// version of its shader that compiled.
struct PreviewStep
{
    StepLine line;
    ShaderItem item;
};

// A shader that compiled, kept by path so that a later failure can fall
// back on it.
struct GoodShader
{
    FileStamp stamp;
    ShaderItem item;
};

struct Show
{
    std::vector<PreviewStep> steps;
    std::vector<std::string> problems; // "FILE:LINE: error: message", as quorvel-check writes them
};

std::string problemLine(const std::string& file, int line, const std::string& severity, const std::string& message)
{
    return file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + severity + ": " + message;
}

// Compiles one step's shader as the player does; on failure the compiler's
// messages, each at its line.
std::optional<ShaderItem> compileStep(const StepLine& line, std::vector<std::string>& problems)
{
    std::ostringstream driverLog, playerLines;
    std::streambuf* const previous = sf::err().rdbuf(driverLog.rdbuf());
    std::optional<ShaderItem> item = loadStep(line, playerLines);
    sf::err().rdbuf(previous);
    if (item)
        return item;
    switch (shaderFileProblem(line.shaderPath))
    {
    case ShaderFileProblem::missing: problems.push_back(problemLine(line.shaderPath, 0, "error", "no such file")); break;
    case ShaderFileProblem::notRegularFile:
        problems.push_back(problemLine(line.shaderPath, 0, "error", "not a regular file"));
        break;
    case ShaderFileProblem::tooBig: problems.push_back(problemLine(line.shaderPath, 0, "error", "too big")); break;
    case ShaderFileProblem::none:
    {
        std::string log = driverLog.str();
        for (const char* heading : {"Failed to compile fragment shader:\n", "Failed to link shader:\n"})
            if (log.rfind(heading, 0) == 0)
                log.erase(0, std::string(heading).size());
        const std::vector<CompilerMessage> messages = parseCompilerLog(log);
        for (const CompilerMessage& message : messages)
            if (message.severity == "error")
                problems.push_back(problemLine(line.shaderPath, message.line, "error", message.text));
        if (messages.empty())
            problems.push_back(problemLine(line.shaderPath, 0, "error", "does not compile"));
        break;
    }
    }
    return std::nullopt;
}

// Reads the sequence file and compiles what changed, keeping the last good
// version of a shader that fails.
Show loadShow(std::map<std::string, GoodShader>& good)
{
    Show show;
    std::ifstream file;
    if (isRegularFile(sequenceFileName))
        file.open(sequenceFileName, std::ios::binary);
    if (!file.is_open())
    {
        show.problems.push_back(problemLine(sequenceFileName, 0, "error", "missing or unreadable"));
        return show;
    }
    std::string text;
    bool tooLong = false;
    int lineNumber = 0;
    std::vector<std::string> failed; // said once however many lines name them
    while (readSequenceLine(file, text, tooLong))
    {
        ++lineNumber;
        const SequenceLine read = readStepLine(text);
        if (!read.step)
        {
            const bool blank = text.find_first_not_of(" \t\r\v\f") == std::string::npos;
            if (tooLong || (!blank && read.kind != LineKind::comment))
                show.problems.push_back(problemLine(sequenceFileName, lineNumber, "warning", "gives no step"));
            continue;
        }
        const FileStamp stamp = stampOf(platform::pathFromSequenceText(read.step->shaderPath));
        const auto known = good.find(read.step->shaderPath);
        if (known != good.end() && known->second.stamp == stamp)
        {
            show.steps.push_back({*read.step, known->second.item});
            show.steps.back().item.durationSeconds = read.step->durationSeconds;
            continue;
        }
        const bool failedBefore = std::find(failed.begin(), failed.end(), read.step->shaderPath) != failed.end();
        std::optional<ShaderItem> item;
        if (!failedBefore)
            item = compileStep(*read.step, show.problems);
        if (!item && !failedBefore)
            failed.push_back(read.step->shaderPath);
        if (item)
        {
            good[read.step->shaderPath] = {stamp, *item};
            show.steps.push_back({*read.step, std::move(*item)});
        }
        else if (known != good.end())
        {
            // The last version that compiled stays on screen.
            show.steps.push_back({*read.step, known->second.item});
            show.steps.back().item.durationSeconds = read.step->durationSeconds;
        }
    }
    return show;
}

// Where a step first starts on the show's ideal timeline: the durations before it.
float idealStart(const Show& show, std::size_t index)
{
    double start = 0;
    for (std::size_t i = 0; i < index && i < show.steps.size(); ++i)
        start += std::max(0.0, static_cast<double>(show.steps[i].item.durationSeconds));
    return static_cast<float>(start);
}

std::vector<fs::path> watchedFiles(const Show& show)
{
    std::vector<fs::path> files = {sequenceFileName, musicFileName};
    for (const PreviewStep& step : show.steps)
        files.push_back(platform::pathFromSequenceText(step.line.shaderPath));
    // Shaders that failed are watched too, by the names the file gives.
    std::ifstream file(sequenceFileName, std::ios::binary);
    std::string text;
    while (file && readSequenceLine(file, text))
        if (const std::optional<StepLine> step = parseSequenceLine(text))
            files.push_back(platform::pathFromSequenceText(step->shaderPath));
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

std::optional<sf::Font> findFont()
{
    const char* const candidates[] = {
#ifdef _WIN32
        "C:\\Windows\\Fonts\\consola.ttf", "C:\\Windows\\Fonts\\cour.ttf", "C:\\Windows\\Fonts\\arial.ttf",
        "C:\\Windows\\Fonts\\tahoma.ttf",
#else
        "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
        "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf",
        "/usr/share/fonts/truetype/noto/NotoSansMono-Regular.ttf",
#endif
    };
    for (const char* path : candidates)
    {
        sf::Font font;
        if (isRegularFile(path) && font.loadFromFile(path))
            return font;
    }
    return std::nullopt;
}

std::string fixed(double value, int decimals)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

} // namespace

int main(int argc, char** argv)
{
    platform::prepareProcess();
    std::string folder = ".";
    std::string desktopPath;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help")
        {
            std::cout << usage;
            return 0;
        }
        if (arg == "--desktop" && i + 1 < argc)
            desktopPath = fs::absolute(argv[++i]).string();
        else if (!arg.empty() && arg[0] != '-' && folder == ".")
            folder = arg;
        else
        {
            std::cerr << usage;
            return 2;
        }
    }
    std::error_code error;
    fs::current_path(folder, error);
    if (error)
    {
        std::cerr << "quorvel-preview: cannot enter " << folder << ": " << error.message() << std::endl;
        return 1;
    }
    platform::endOnDisplayLoss();
    const std::string displayProblem = platform::displayProblem();
    if (!displayProblem.empty())
    {
        std::cerr << displayProblem << std::endl;
        return 1;
    }

    // The picture standing in for the desktop, taken before the window opens.
    const platform::ScreenSize screen = platform::primaryScreenSize();
    sf::Texture desktopTexture;
    if (!desktopPath.empty())
    {
        sf::Image picture;
        std::ostringstream quiet;
        std::streambuf* const previous = sf::err().rdbuf(quiet.rdbuf());
        const bool loaded = isRegularFile(desktopPath) && picture.loadFromFile(desktopPath);
        sf::err().rdbuf(previous);
        if (!loaded)
        {
            std::cerr << "quorvel-preview: cannot read the picture " << desktopPath << " (PNG or JPEG)" << std::endl;
            return 1;
        }
        desktopTexture = textureFromSnapshot(snapshotFromPicture(picture, static_cast<int>(picture.getSize().x),
                                                                 static_cast<int>(picture.getSize().y)));
    }
    else
        desktopTexture = captureDesktop();
    const sf::Vector2u drawingSize = desktopTexture.getSize();
    const sf::Vector2f resolution(static_cast<float>(drawingSize.x), static_cast<float>(drawingSize.y));
    const bool sizeDiffers = static_cast<int>(drawingSize.x) != screen.width ||
                             static_cast<int>(drawingSize.y) != screen.height;
    const sf::Sprite background(desktopTexture);

    // An ordinary window, at most three quarters of the screen.
    const double fit = std::min({1.0, 0.75 * screen.width / std::max(1u, drawingSize.x),
                                 0.75 * screen.height / std::max(1u, drawingSize.y)});
    sf::RenderWindow window(sf::VideoMode(std::max(1u, static_cast<unsigned>(drawingSize.x * fit)),
                                          std::max(1u, static_cast<unsigned>(drawingSize.y * fit))),
                            titleStart, sf::Style::Default, sf::ContextSettings(0, 0, 0, 1, 1, 0, false));
    window.setFramerateLimit(120);
    // SFML 2.5 centres a window vertically by the screen's width; centre it for real.
    window.setPosition(sf::Vector2i((screen.width - static_cast<int>(window.getSize().x)) / 2,
                                    (screen.height - static_cast<int>(window.getSize().y)) / 2));
    sf::RenderTexture target;
    if (!target.create(drawingSize.x, drawingSize.y))
    {
        std::cerr << "quorvel-preview: the driver cannot draw at " << drawingSize.x << "x" << drawingSize.y << std::endl;
        return 1;
    }
    const std::optional<sf::Font> font = findFont();

    std::map<std::string, GoodShader> good;
    Show show = loadShow(good);
    for (const std::string& problem : show.problems)
        std::cerr << problem << std::endl;

    sf::Music music;
    bool musicOpen = isRegularFile(musicFileName) && music.openFromFile(musicFileName);
    if (!musicOpen)
        std::cerr << problemLine(musicFileName, 0, "error", "cannot be opened: the show stands still") << std::endl;
    const bool soundDevice = audioDeviceIsOpen();
    if (musicOpen && !soundDevice)
        std::cerr << problemLine(musicFileName, 0, "note",
                                 "no sound device: the show stands still (ALSOFT_DRIVERS=null plays silently)")
                  << std::endl;
    bool paused = false;
    bool looping = false;
    if (musicOpen && soundDevice)
        music.play();

    std::size_t currentShaderIndex = 0;
    float shaderStartTime = 0.0f;
    float musicTime = 0.0f;
    MusicPosition musicPosition;
    const double mixingPeriodSeconds = audioMixingPeriodSeconds();
    const auto readPosition = [&music] { return music.getPlayingOffset().asSeconds(); };
    const auto musicPlays = [&music] { return music.getStatus() == sf::Music::Playing; };

    // Puts the music and the clock at `seconds`, with step `index` starting there.
    const auto jumpTo = [&](std::size_t index, float seconds) {
        currentShaderIndex = index;
        shaderStartTime = seconds;
        if (musicOpen)
            music.setPlayingOffset(sf::seconds(seconds));
        musicTime = seconds;
        musicPosition.restartAt(seconds);
    };

    SettledChanges changes(std::chrono::milliseconds(100));
    changes.watch(watchedFiles(show));
    auto lastPoll = std::chrono::steady_clock::now();
    auto lastTitle = lastPoll;
    unsigned framesSinceTitle = 0;

    while (window.isOpen())
    {
        sf::Event event;
        while (window.pollEvent(event))
        {
            if (event.type == sf::Event::Closed)
                window.close();
            if (event.type == sf::Event::Resized)
                window.setView(sf::View(sf::FloatRect(0, 0, static_cast<float>(event.size.width),
                                                      static_cast<float>(event.size.height))));
            if (event.type != sf::Event::KeyPressed)
                continue;
            const std::size_t count = show.steps.size();
            switch (event.key.code)
            {
            case sf::Keyboard::Escape: window.close(); break;
            case sf::Keyboard::Space:
                paused = !paused;
                if (musicOpen && soundDevice)
                    paused ? music.pause() : music.play();
                break;
            case sf::Keyboard::Right:
                if (count > 0)
                {
                    const std::size_t next = (currentShaderIndex + 1) % count;
                    jumpTo(next, idealStart(show, next));
                }
                break;
            case sf::Keyboard::Left:
                if (count > 0)
                {
                    const std::size_t previous = (currentShaderIndex + count - 1) % count;
                    jumpTo(previous, idealStart(show, previous));
                }
                break;
            case sf::Keyboard::Home: jumpTo(0, 0.0f); break;
            case sf::Keyboard::L: looping = !looping; break;
            default: break;
            }
        }

        // Saved files, once they have settled.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastPoll >= std::chrono::milliseconds(25))
        {
            lastPoll = now;
            const std::vector<fs::path> changed = changes.poll(now);
            if (!changed.empty())
            {
                for (const fs::path& path : changed)
                    std::cout << "reloading " << path.string() << std::endl;
                const bool musicChanged = std::find(changed.begin(), changed.end(), fs::path(musicFileName)) !=
                                          changed.end();
                if (musicChanged)
                {
                    const float at = musicTime;
                    music.stop();
                    musicOpen = isRegularFile(musicFileName) && music.openFromFile(musicFileName);
                    if (musicOpen && soundDevice && !paused)
                        music.play();
                    jumpTo(currentShaderIndex, std::min(at, musicOpen ? music.getDuration().asSeconds() : at));
                }
                show = loadShow(good);
                for (const std::string& problem : show.problems)
                    std::cerr << problem << std::endl;
                if (!musicOpen)
                    show.problems.push_back(problemLine(musicFileName, 0, "error", "cannot be opened"));
                if (show.problems.empty())
                    std::cout << "reloaded: " << show.steps.size() << " steps" << std::endl;
                if (currentShaderIndex >= show.steps.size())
                    currentShaderIndex = 0;
                changes.watch(watchedFiles(show));
            }
        }

        window.clear(sf::Color(32, 32, 32));
        const std::size_t count = show.steps.size();
        float shaderTime = 0.0f;
        if (count > 0)
        {
            if (musicOpen && soundDevice)
            {
                musicTime = musicPosition.update(readPosition, musicPlays, mixingPeriodSeconds);
            }
            const float duration = show.steps[currentShaderIndex].item.durationSeconds;
            if (looping && duration > 0 && musicTime - shaderStartTime >= duration)
                jumpTo(currentShaderIndex, shaderStartTime);
            const FrameStep frame = stepFrame(musicTime, show.steps[currentShaderIndex].item.durationSeconds, count,
                                              currentShaderIndex, shaderStartTime);
            shaderTime = frame.shaderTime;
            drawStep(target, background, show.steps[frame.drawnIndex].item, frame.shaderTime, resolution);
            target.display();

            // The drawing, scaled to the window and centred.
            sf::Sprite drawing(target.getTexture());
            const sf::Vector2f windowSize(window.getView().getSize());
            const float scale = std::min(windowSize.x / resolution.x, windowSize.y / resolution.y);
            drawing.setScale(scale, scale);
            drawing.setPosition((windowSize.x - resolution.x * scale) / 2, (windowSize.y - resolution.y * scale) / 2);
            window.draw(drawing);
        }
        if (!show.problems.empty() && font)
        {
            std::string text;
            for (const std::string& problem : show.problems)
                text += problem + "\n";
            sf::Text lines(text, *font, 14);
            lines.setFillColor(sf::Color(255, 230, 120));
            lines.setPosition(8, 8);
            sf::RectangleShape panel(sf::Vector2f(window.getView().getSize().x, lines.getLocalBounds().height + 24));
            panel.setFillColor(sf::Color(0, 0, 0, 200));
            window.draw(panel);
            window.draw(lines);
        }
        window.display();

        ++framesSinceTitle;
        const auto titleNow = std::chrono::steady_clock::now();
        const double sinceTitle = std::chrono::duration<double>(titleNow - lastTitle).count();
        if (sinceTitle >= 0.2)
        {
            std::string title = titleStart;
            if (count > 0)
                title += " - step " + std::to_string(currentShaderIndex + 1) + "/" + std::to_string(count) + " " +
                         show.steps[currentShaderIndex].line.shaderPath + " - time " + fixed(shaderTime, 2) +
                         " - music " + fixed(musicTime, 2) + " s";
            else
                title += " - no step loads";
            title += " - " + fixed(framesSinceTitle / sinceTitle, 0) + " fps";
            if (paused)
                title += " - paused";
            if (looping)
                title += " - loop";
            if (!show.problems.empty())
                title += " - " + std::to_string(show.problems.size()) + " problem(s)";
            if (sizeDiffers)
                title += " - drawing " + std::to_string(drawingSize.x) + "x" + std::to_string(drawingSize.y) +
                         ", screen " + std::to_string(screen.width) + "x" + std::to_string(screen.height);
            window.setTitle(title);
            lastTitle = titleNow;
            framesSinceTitle = 0;
        }
    }
    return 0;
}
