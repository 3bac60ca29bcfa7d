// quorvel-render: plays a show frame by frame, not in real time, and writes
// it as a video with its music or as PNG frames. Frame n is drawn at music
// time n / fps, through the player's switch rule and drawing.

#include "capture/capture.hpp"
#include "draw_step.hpp"
#include "platform/platform.hpp"
#include "regular_file.hpp"
#include "render/video_file.hpp"
#include "sequence/shader_sequence.hpp"
#include "show/music_file.hpp"
#include "show/timeline.hpp"
#include "switch_rule.hpp"

#include <SFML/Graphics.hpp>
#include <SFML/OpenGL.hpp>
#include <SFML/System/Err.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace
{

const char* const usage =
    "usage: quorvel-render [options] SHOW_FOLDER OUTPUT\n"
    "Renders the show in SHOW_FOLDER frame by frame and writes OUTPUT:\n"
    "  NAME.mkv         lossless video (FFV1, RGB) with the music's audio copied unchanged\n"
    "  NAME.mp4         H.264 (yuv420p, BT.709) with AAC audio, for sharing\n"
    "  FOLDER/ or NAME%05d.png   PNG frames, with the music copied beside them\n"
    "Options:\n"
    "  --desktop PICTURE  a PNG or JPEG standing in for the desktop (default: a snapshot of this desktop)\n"
    "  --size WxH         the drawing size (default: the picture's size, else the primary screen's)\n"
    "  --fps N            frames a second (default 60)\n"
    "  --seconds S        how much to render (default: until the track ends)\n"
    "  --from S           start at S seconds of music\n";

std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    interrupted = true;
}

enum class OutputKind
{
    matroska,
    mp4,
    pngFolder,
    pngPattern,
};

struct Options
{
    std::string desktop;
    int width = 0;
    int height = 0;
    double fps = 60;
    std::optional<double> seconds;
    double from = 0;
    std::string folder;
    std::string output;
    OutputKind kind = OutputKind::matroska;
};

bool readNumber(const char* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string lowerCase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::optional<OutputKind> outputKind(const std::string& output)
{
    const std::string lower = lowerCase(output);
    if (endsWith(lower, ".mkv"))
        return OutputKind::matroska;
    if (endsWith(lower, ".mp4"))
        return OutputKind::mp4;
    if (endsWith(lower, ".png") && output.find('%') != std::string::npos)
        return OutputKind::pngPattern;
    std::error_code error;
    if (endsWith(output, "/") || fs::is_directory(output, error) || fs::path(output).extension().empty())
        return OutputKind::pngFolder;
    return std::nullopt;
}

std::optional<Options> readOptions(int argc, char** argv, std::string& problem)
{
    Options options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        double number = 0;
        if (arg == "-h" || arg == "--help")
        {
            std::cout << usage;
            std::exit(0);
        }
        else if (arg == "--desktop" && hasValue)
            options.desktop = argv[++i];
        else if (arg == "--size" && hasValue)
        {
            const std::string size = argv[++i];
            int width = 0, height = 0;
            char rest = 0;
            if (std::sscanf(size.c_str(), "%dx%d%c", &width, &height, &rest) != 2 || width < 1 || height < 1 ||
                width > 16384 || height > 16384)
            {
                problem = "--size takes WIDTHxHEIGHT, for example 1920x1080";
                return std::nullopt;
            }
            options.width = width;
            options.height = height;
        }
        else if (arg == "--fps" && hasValue)
        {
            if (!readNumber(argv[++i], number) || !(number > 0) || number > 1000)
            {
                problem = "--fps takes a number of frames a second above 0, at most 1000";
                return std::nullopt;
            }
            options.fps = number;
        }
        else if (arg == "--seconds" && hasValue)
        {
            if (!readNumber(argv[++i], number) || !(number > 0) || number > 24 * 3600)
            {
                problem = "--seconds takes a number of seconds above 0";
                return std::nullopt;
            }
            options.seconds = number;
        }
        else if (arg == "--from" && hasValue)
        {
            if (!readNumber(argv[++i], number) || number < 0 || number > 24 * 3600)
            {
                problem = "--from takes a number of seconds, 0 or more";
                return std::nullopt;
            }
            options.from = number;
        }
        else if (!arg.empty() && arg[0] == '-')
        {
            problem = "unknown option " + arg;
            return std::nullopt;
        }
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2)
    {
        problem = "give SHOW_FOLDER and OUTPUT";
        return std::nullopt;
    }
    options.folder = positional[0];
    options.output = positional[1];
    const std::optional<OutputKind> kind = outputKind(options.output);
    if (!kind)
    {
        problem = "OUTPUT must end in .mkv or .mp4, or name a folder or a %05d.png pattern";
        return std::nullopt;
    }
    options.kind = *kind;
    return options;
}

// Rows of width x height RGBA pixels read back from the drawing target,
// bottom row first as OpenGL stores them.
struct Readback
{
    int width;
    int height;
    std::vector<std::uint8_t> rgba;

    const std::uint8_t* topRow() const { return rgba.data() + static_cast<std::size_t>(height - 1) * width * 4; }
    int topDownStride() const { return -width * 4; }
};

void readPixels(sf::RenderTexture& target, Readback& readback)
{
    target.setActive(true);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, readback.width, readback.height, GL_RGBA, GL_UNSIGNED_BYTE, readback.rgba.data());
}

bool savePng(const Readback& readback, const std::string& path)
{
    sf::Image image;
    image.create(static_cast<unsigned>(readback.width), static_cast<unsigned>(readback.height));
    const std::size_t rowBytes = static_cast<std::size_t>(readback.width) * 4;
    std::vector<std::uint8_t> topDown(rowBytes * static_cast<std::size_t>(readback.height));
    for (int y = 0; y < readback.height; ++y)
        std::memcpy(topDown.data() + rowBytes * static_cast<std::size_t>(y),
                    readback.rgba.data() + rowBytes * static_cast<std::size_t>(readback.height - 1 - y), rowBytes);
    image.create(static_cast<unsigned>(readback.width), static_cast<unsigned>(readback.height), topDown.data());
    return image.saveToFile(path);
}

std::string frameFileName(const std::string& pattern, long long index)
{
    std::vector<char> name(pattern.size() + 32);
    std::snprintf(name.data(), name.size(), pattern.c_str(), index);
    return name.data();
}

// Checks that a %05d.png pattern holds exactly one integer conversion.
bool validPattern(const std::string& pattern)
{
    int conversions = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i)
    {
        if (pattern[i] != '%')
            continue;
        if (i + 1 < pattern.size() && pattern[i + 1] == '%')
        {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < pattern.size() && (std::isdigit(static_cast<unsigned char>(pattern[j])) || pattern[j] == '0'))
            ++j;
        if (j >= pattern.size() || pattern[j] != 'd')
            return false;
        ++conversions;
        i = j;
    }
    return conversions == 1;
}

std::string clock(double seconds)
{
    const long long whole = std::llround(std::max(0.0, seconds));
    std::ostringstream text;
    text << whole / 60 << ":" << std::setw(2) << std::setfill('0') << whole % 60;
    return text.str();
}

void showProgress(long long done, long long total, double elapsedSeconds)
{
    const int width = 30;
    const int filled = total > 0 ? static_cast<int>(width * done / total) : width;
    const double left = done > 0 ? elapsedSeconds * static_cast<double>(total - done) / static_cast<double>(done) : 0;
    std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(width - filled), '.') << "] frame " << done << "/" << total
              << "  " << clock(left) << " left " << std::flush;
}

bool stderrIsTerminal()
{
#ifdef _WIN32
    return false;
#else
    return isatty(2) == 1;
#endif
}

// Where the output is written until it is complete, beside the final name.
std::string partialName(const std::string& output)
{
    const fs::path path(output);
    std::string name = path.filename().string();
    if (name.empty())
        name = fs::path(output).parent_path().filename().string();
    return (path.parent_path() / ("." + name + ".partial")).string();
}

int fail(const std::string& message)
{
    std::cerr << "quorvel-render: " << message << std::endl;
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string problem;
    std::optional<Options> read = readOptions(argc, argv, problem);
    if (!read)
    {
        std::cerr << "quorvel-render: " << problem << "\n" << usage;
        return 2;
    }
    Options options = *read;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    // Paths given on the command line are the caller's; the show's are the folder's.
    std::error_code error;
    fs::path output = fs::absolute(options.output, error);
    if (output.filename().empty()) // "frames/"
        output = output.parent_path();
    const std::string desktopPath = options.desktop.empty() ? "" : fs::absolute(options.desktop, error).string();
    if (options.kind == OutputKind::pngPattern && !validPattern(output.filename().string()))
        return fail("the frame pattern must hold one number conversion such as %05d: " + options.output);
    if (!fs::is_directory(options.folder, error))
        return fail(options.folder + " is not a folder");
    const fs::path outputFolder = output.parent_path();
    if (!fs::is_directory(outputFolder.empty() ? fs::path(".") : outputFolder, error))
        return fail("cannot write " + options.output + ": its folder " + outputFolder.string() + " does not exist");
    if (options.kind == OutputKind::pngFolder && fs::exists(output, error) &&
        (!fs::is_directory(output, error) || !fs::is_empty(output, error)))
        return fail(options.output + " exists and is not an empty folder");

    std::optional<sf::Image> picture;
    if (!desktopPath.empty())
    {
        picture.emplace();
        std::ostringstream quiet;
        std::streambuf* const previous = sf::err().rdbuf(quiet.rdbuf());
        const bool loaded = isRegularFile(desktopPath) && picture->loadFromFile(desktopPath);
        sf::err().rdbuf(previous);
        if (!loaded)
            return fail("cannot read the picture " + options.desktop + " (PNG or JPEG)");
    }

    // Drawing needs an OpenGL context, and SFML reaches one through the display.
    const std::string displayProblem = platform::displayProblem();
    if (!displayProblem.empty())
        return fail("no display to draw with: " + displayProblem);
    if (!sf::Shader::isAvailable())
        return fail("the OpenGL driver has no shaders");

    fs::current_path(options.folder, error);
    if (error)
        return fail("cannot enter " + options.folder + ": " + error.message());

    std::ostringstream loaderProgress;
    std::vector<ShaderItem> sequence = loadShaderSequence("shader_sequence.txt", loaderProgress, std::cerr);
    if (sequence.empty())
        return fail("the show does not load: no step of shader_sequence.txt compiles (quorvel-check says why)");
    const MusicFileInfo music = inspectMusicFile("music.ogg");
    if (!music.opens)
        return fail("the show does not load: music.ogg does not open (quorvel-check says why)");

    // The drawing size: asked, else the picture's, else the primary screen's.
    if (options.width == 0)
    {
        if (picture)
        {
            options.width = static_cast<int>(picture->getSize().x);
            options.height = static_cast<int>(picture->getSize().y);
        }
        else
        {
            const platform::ScreenSize screen = platform::primaryScreenSize();
            options.width = screen.width;
            options.height = screen.height;
        }
    }
    if (!picture)
    {
        // One snapshot of this desktop, as the player takes it, then as a picture of the drawing size.
        const platform::ScreenPixels grabbed = platform::grabPrimaryScreen();
        if (!grabbed.problem.empty())
            std::cerr << "quorvel-render: the desktop snapshot failed (" << grabbed.problem
                      << "): the show is drawn over black" << std::endl;
        std::vector<std::uint8_t> rgba(grabbed.bgrx);
        for (std::size_t i = 0; i + 3 < rgba.size(); i += 4)
            std::swap(rgba[i], rgba[i + 2]);
        picture.emplace();
        if (grabbed.width > 0 && grabbed.height > 0)
            picture->create(static_cast<unsigned>(grabbed.width), static_cast<unsigned>(grabbed.height), rgba.data());
    }
    const sf::Texture desktopTexture =
        textureFromSnapshot(snapshotFromPicture(*picture, options.width, options.height));
    picture.reset();
    const sf::Sprite background(desktopTexture);

    sf::RenderTexture target;
    if (!target.create(static_cast<unsigned>(options.width), static_cast<unsigned>(options.height)))
        return fail("the driver cannot draw at " + std::to_string(options.width) + "x" + std::to_string(options.height));
    const sf::Vector2f resolution(static_cast<float>(options.width), static_cast<float>(options.height));

    // Frames first..last-1 are written; those before are played through the switch rule only.
    const long long firstFrame = static_cast<long long>(std::ceil(options.from * options.fps - 1e-9));
    const double renderSeconds = options.seconds ? *options.seconds : music.seconds - options.from;
    if (renderSeconds <= 0)
        return fail("nothing to render: --from is at or after the end of the track (" +
                    std::to_string(music.seconds) + " s)");
    long long frameCount = options.seconds ? std::llround(*options.seconds * options.fps) : 0;
    if (!options.seconds)
        while (static_cast<double>(firstFrame + frameCount) / options.fps < music.seconds)
            ++frameCount;
    if (frameCount < 1)
        frameCount = 1;

    const std::string partial = partialName(output.string());
    std::string framePattern;
    VideoFile video;
    if (options.kind == OutputKind::matroska || options.kind == OutputKind::mp4)
    {
        fs::remove(partial, error);
        const VideoSettings settings{options.kind == OutputKind::matroska ? VideoKind::matroska : VideoKind::mp4,
                                     partial,
                                     options.width,
                                     options.height,
                                     options.fps,
                                     fs::absolute("music.ogg").string(),
                                     static_cast<double>(firstFrame) / options.fps,
                                     static_cast<double>(frameCount) / options.fps};
        if (!video.open(settings, problem))
        {
            fs::remove(partial, error);
            return fail(problem);
        }
    }
    else if (options.kind == OutputKind::pngFolder)
    {
        fs::remove_all(partial, error);
        if (!fs::create_directory(partial, error))
            return fail("cannot write " + options.output + ": " + error.message());
        framePattern = (fs::path(partial) / "%05d.png").string();
    }
    else
        framePattern = output.string();

    std::vector<std::string> written; // PNG frames named by a pattern, removed again on failure
    const auto abandon = [&](const std::string& why) {
        if (options.kind == OutputKind::pngFolder)
            fs::remove_all(partial, error);
        else if (options.kind == OutputKind::pngPattern)
            for (const std::string& file : written)
                fs::remove(file, error);
        else
            fs::remove(partial, error);
        return fail(why);
    };

    const bool progressBar = stderrIsTerminal();
    const auto started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration drawing{}, encoding{};
    auto lastProgress = started;
    Readback readback{options.width, options.height,
                      std::vector<std::uint8_t>(static_cast<std::size_t>(options.width) * options.height * 4)};

    std::size_t currentShaderIndex = 0;
    float shaderStartTime = 0.0f;
    const float trackEnd = static_cast<float>(music.seconds);
    for (long long frame = 0; frame < firstFrame + frameCount; ++frame)
    {
        if (interrupted)
            return abandon("interrupted: nothing written");
        // After the track has ended, the position stays where the music stopped.
        const float musicTime = std::min(frameMusicTime(frame, options.fps), trackEnd);
        const FrameStep step = stepFrame(musicTime, sequence[currentShaderIndex].durationSeconds, sequence.size(),
                                         currentShaderIndex, shaderStartTime);
        if (frame < firstFrame)
            continue;

        const auto drawStart = std::chrono::steady_clock::now();
        drawStep(target, background, sequence[step.drawnIndex], step.shaderTime, resolution);
        target.display();
        readPixels(target, readback);
        const auto encodeStart = std::chrono::steady_clock::now();
        drawing += encodeStart - drawStart;

        const long long index = frame - firstFrame;
        if (framePattern.empty())
        {
            if (!video.addFrame(readback.topRow(), readback.topDownStride(), problem))
                return abandon(problem);
        }
        else
        {
            const std::string name = frameFileName(framePattern, index);
            written.push_back(name);
            if (!savePng(readback, name))
                return abandon("cannot write " + name);
        }
        const auto encodeEnd = std::chrono::steady_clock::now();
        encoding += encodeEnd - encodeStart;
        if (progressBar && (encodeEnd - lastProgress > std::chrono::milliseconds(100) || index + 1 == frameCount))
        {
            lastProgress = encodeEnd;
            showProgress(index + 1, frameCount, std::chrono::duration<double>(encodeEnd - started).count());
        }
    }
    if (progressBar)
        std::cerr << "\n";

    const auto encodeStart = std::chrono::steady_clock::now();
    if (framePattern.empty())
    {
        if (!video.finish(problem))
            return abandon(problem);
        fs::rename(partial, output, error);
    }
    else
    {
        // The music beside the frames.
        const fs::path musicCopy =
            (options.kind == OutputKind::pngFolder ? fs::path(partial) : output.parent_path()) / "music.ogg";
        const bool sameFile = fs::exists(musicCopy, error) && fs::equivalent("music.ogg", musicCopy, error);
        if (!sameFile && !fs::copy_file("music.ogg", musicCopy, fs::copy_options::overwrite_existing, error))
            return abandon("cannot copy the music beside the frames: " + error.message());
        if (options.kind == OutputKind::pngFolder)
        {
            if (fs::exists(output))
                fs::remove(output, error);
            fs::rename(partial, output, error);
        }
    }
    if (error)
        return abandon("cannot write " + options.output + ": " + error.message());
    encoding += std::chrono::steady_clock::now() - encodeStart;

    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double shown = static_cast<double>(frameCount) / options.fps;
    const double drawSeconds = std::chrono::duration<double>(drawing).count();
    const double encodeSeconds = std::chrono::duration<double>(encoding).count();
    const double busy = std::max(drawSeconds + encodeSeconds, 1e-9);
    std::cout << std::fixed << std::setprecision(2) << "Rendered " << frameCount << " frames (" << shown << " s at "
              << std::setprecision(3) << options.fps << " fps, " << options.width << "x" << options.height << ") to "
              << options.output << " in " << std::setprecision(2) << took << " s: " << shown / std::max(took, 1e-9)
              << "x real time (drawing " << std::setprecision(0) << 100 * drawSeconds / busy << " %, encoding "
              << 100 * encodeSeconds / busy << " %)" << std::endl;
    return 0;
}
