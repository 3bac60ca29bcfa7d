// quorvel-check: explains a show folder the way the player will read it.
// Every skipped line of the sequence file, every shader that will not load
// (its compiler's messages at their source lines), the music, and when each
// step is on screen against the music.

#include "audio_device.hpp"
#include "platform/platform.hpp"
#include "regular_file.hpp"
#include "sequence/shader_sequence.hpp"
#include "show/compiler_log.hpp"
#include "show/music_file.hpp"
#include "show/reference_compiler.hpp"
#include "show/timeline.hpp"

#include <SFML/Audio/Music.hpp>
#include <SFML/Graphics/Shader.hpp>
#include <SFML/OpenGL.hpp>
#include <SFML/System/Err.hpp>
#include <SFML/Window/Context.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{

const char* const sequenceFileName = "shader_sequence.txt";
const char* const musicFileName = "music.ogg";

const char* const usage = "usage: quorvel-check [--json] [--fps N] [SHOW_FOLDER]\n"
                          "Checks the show in SHOW_FOLDER (default: the current folder): the lines of\n"
                          "shader_sequence.txt, its shaders, music.ogg and the timeline against the music.\n"
                          "  --json   one JSON object on standard output, for scripts\n"
                          "  --fps N  also the switch times the player gives at N frames a second\n"
                          "Exit status: 0 the show plays every line as a step and the music opens,\n"
                          "1 a problem (see the error lines), 2 a usage error.\n";

struct Problem
{
    std::string file;
    int line = 0; // 0: the whole file
    std::string severity;
    std::string message;
    std::string compiler; // which compiler gave the verdict, for shader messages
    std::string sourceLine;
};

struct CheckedStep
{
    int line;
    std::string shader;
    float duration;
    bool ok = false;
};

struct Options
{
    bool json = false;
    std::optional<double> fps;
    std::string folder = ".";
};

struct Report
{
    bool soundDevice = false; // OpenAL opens a sound device here
    std::vector<CheckedStep> steps;
    std::vector<Problem> problems;
    MusicFileInfo music;
    std::string driver;    // the renderer's name; empty: no OpenGL driver reachable
    std::string driverVersion;
    std::string reference; // empty: no reference compiler
};

std::optional<Options> readOptions(int argc, char** argv)
{
    Options options;
    bool haveFolder = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--json")
            options.json = true;
        else if (arg == "--fps" && i + 1 < argc)
        {
            char* end = nullptr;
            const double fps = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(fps > 0) || !std::isfinite(fps) || fps > 100000)
                return std::nullopt;
            options.fps = fps;
        }
        else if (arg == "-h" || arg == "--help")
        {
            std::cout << usage;
            std::exit(0);
        }
        else if (!arg.empty() && arg[0] == '-')
            return std::nullopt;
        else if (!haveFolder)
        {
            options.folder = arg;
            haveFolder = true;
        }
        else
            return std::nullopt;
    }
    return options;
}

std::vector<std::string> sourceLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream file(path, std::ios::binary);
    std::string line;
    while (lines.size() < 1000000 && std::getline(file, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string shortNumber(double value)
{
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::setprecision(9) << value;
    return text.str();
}

// Why a line that is not blank and not a comment gives no step.
std::string skippedBecause(const SequenceLine& read)
{
    switch (read.kind)
    {
    case LineKind::noDuration: return "no duration: the player skips this line (a step is \"SHADER SECONDS\")";
    case LineKind::unreadableDuration:
        return "unreadable duration '" + read.durationField + "': the player skips this line";
    case LineKind::durationOutOfRange:
        return "duration '" + read.durationField + "' is beyond the float range: the player skips this line";
    default: return {};
    }
}

bool startsWithByteOrderMark(const std::string& text)
{
    return text.rfind("\xef\xbb\xbf", 0) == 0;
}

// The sequence file, line by line, as the player reads it.
std::vector<StepLine> checkSequenceFile(Report& report)
{
    std::vector<StepLine> stepLines;
    if (!isRegularFile(sequenceFileName))
    {
        const bool exists = std::filesystem::exists(sequenceFileName);
        report.problems.push_back({sequenceFileName, 0, "error",
                                   exists ? "not a regular file: the player cannot open it"
                                          : "missing: the player cannot open it",
                                   {}, {}});
        return stepLines;
    }
    std::ifstream file(sequenceFileName, std::ios::binary);
    if (!file.is_open())
    {
        report.problems.push_back({sequenceFileName, 0, "error", "cannot be read: the player cannot open it", {}, {}});
        return stepLines;
    }
    if (file.peek() == 0xff || file.peek() == 0xfe)
    {
        const int first = file.get();
        const int second = file.peek();
        file.unget();
        if ((first == 0xff && second == 0xfe) || (first == 0xfe && second == 0xff))
        {
            // Every line of it is skipped for the same reason; one error says it.
            report.problems.push_back({sequenceFileName, 1, "error",
                                       "the file is UTF-16 (Notepad's \"Unicode\"): the player reads no step from it; "
                                       "save it as UTF-8",
                                       {}, {}});
            return stepLines;
        }
    }

    std::string line;
    bool tooLong = false;
    int lineNumber = 0;
    while (readSequenceLine(file, line, tooLong))
    {
        ++lineNumber;
        if (tooLong)
        {
            report.problems.push_back({sequenceFileName, lineNumber, "error",
                                       "line longer than " + std::to_string(maxSequenceLineBytes / 1024) +
                                           " KiB: the player skips it",
                                       {}, {}});
            continue;
        }
        const SequenceLine read = readStepLine(line);
        const bool byteOrderMark = lineNumber == 1 && startsWithByteOrderMark(line);
        // A carriage return before the end of the line: lines ended by CR alone.
        const std::size_t lastText = line.find_last_not_of(" \t\r\v\f");
        const bool loneCarriageReturns = lastText != std::string::npos && line.find('\r') < lastText;
        if (loneCarriageReturns)
            report.problems.push_back({sequenceFileName, lineNumber, "error",
                                       "lines end in a carriage return alone (old Mac line ends): the player reads "
                                       "them as one line, with at most one step; save the file with LF or CR LF "
                                       "line ends",
                                       {}, {}});
        if (byteOrderMark)
            report.problems.push_back(
                {sequenceFileName, 1, read.kind == LineKind::step ? "error" : "warning",
                 read.kind == LineKind::step
                     ? "the file begins with a UTF-8 byte order mark, which the player reads as part of the first "
                       "path ('" + read.step->shaderPath.substr(3) + "' becomes another name): save it without one"
                     : "the file begins with a UTF-8 byte order mark, which the player reads as part of the first "
                       "line: save it without one",
                 {}, {}});

        const bool whiteSpaceOnly = line.find_first_not_of(" \t\r\v\f") == std::string::npos;
        if (read.kind == LineKind::blank || read.kind == LineKind::comment || whiteSpaceOnly)
            continue;
        if (read.kind != LineKind::step)
        {
            report.problems.push_back({sequenceFileName, lineNumber, "error", skippedBecause(read), {}, line});
            continue;
        }
        if (read.durationChars < read.durationField.size())
            report.problems.push_back({sequenceFileName, lineNumber, "warning",
                                       "duration read as " + shortNumber(read.step->durationSeconds) + ": the '" +
                                           read.durationField.substr(read.durationChars) +
                                           "' after the number is ignored",
                                       {}, line});
        if (read.step->durationSeconds <= 0)
            report.problems.push_back({sequenceFileName, lineNumber, "note",
                                       "duration " + shortNumber(read.step->durationSeconds) +
                                           ": the step is on screen for one frame",
                                       {}, {}});
        stepLines.push_back(*read.step);
        report.steps.push_back({lineNumber, read.step->shaderPath, read.step->durationSeconds});
    }
    return stepLines;
}

std::string fileProblemText(ShaderFileProblem problem)
{
    switch (problem)
    {
    case ShaderFileProblem::missing: return "no such file: the player skips this step";
    case ShaderFileProblem::notRegularFile: return "not a regular file: the player skips this step";
    case ShaderFileProblem::tooBig:
        return "larger than " + std::to_string(maxShaderFileBytes / (1024 * 1024)) + " MiB: the player skips this step";
    default: return {};
    }
}

// Compiler messages as problems at the shader's lines, each with its source line.
void addCompilerMessages(Report& report, const std::string& shader, const std::vector<CompilerMessage>& messages,
                         const std::string& severity, const std::string& prefix, const std::string& compiler)
{
    const std::vector<std::string> source = sourceLines(shader);
    for (const CompilerMessage& message : messages)
    {
        std::string sourceLine;
        if (message.line >= 1 && static_cast<std::size_t>(message.line) <= source.size())
            sourceLine = source[static_cast<std::size_t>(message.line) - 1];
        report.problems.push_back({shader, message.line, severity.empty() ? message.severity : severity,
                                   prefix + message.text, compiler, sourceLine});
    }
}

const std::regex& uniformDeclaration()
{
    static const std::regex declaration(R"(^\s*uniform\s+(?:(?:lowp|mediump|highp)\s+)?(\w+)\s+(time|resolution)\s*[;\[])");
    return declaration;
}

// The line that declares the uniform, 0 when the source does not show it plainly.
int declarationLine(const std::string& shader, const std::string& uniform)
{
    const std::vector<std::string> source = sourceLines(shader);
    for (std::size_t i = 0; i < source.size(); ++i)
    {
        std::smatch match;
        if (std::regex_search(source[i], match, uniformDeclaration()) && match[2] == uniform)
            return static_cast<int>(i) + 1;
    }
    return 0;
}

// `time` and `resolution` as declared in the source, where no driver can say.
void checkDeclaredUniforms(Report& report, const std::string& shader)
{
    const std::regex& declaration = uniformDeclaration();
    const std::vector<std::string> source = sourceLines(shader);
    for (std::size_t i = 0; i < source.size(); ++i)
    {
        std::smatch match;
        if (!std::regex_search(source[i], match, declaration))
            continue;
        const std::string expected = match[2] == "time" ? "float" : "vec2";
        if (match[1] != expected)
            report.problems.push_back({shader, static_cast<int>(i) + 1, "warning",
                                       "uniform " + std::string(match[2]) + " is declared " + std::string(match[1]) +
                                           ", the player sets a " + expected + ": it stays unset",
                                       "source text", source[i]});
    }
}

// Every step's shader, with the driver as the player compiles it when there
// is one, and with the reference compiler for GLSL 1.10.
void checkShader(Report& report, CheckedStep& step, bool driverAvailable);

void checkShaders(Report& report, bool driverAvailable)
{
    // A shader named by several lines is reported once; every line gets its verdict.
    std::map<std::string, bool> verdicts;
    for (CheckedStep& step : report.steps)
    {
        const auto known = verdicts.find(step.shader);
        if (known != verdicts.end())
        {
            step.ok = known->second;
            continue;
        }
        checkShader(report, step, driverAvailable);
        verdicts[step.shader] = step.ok;
    }
}

void checkShader(Report& report, CheckedStep& step, bool driverAvailable)
{
    {
        const ShaderFileProblem fileProblem = shaderFileProblem(step.shader);
        if (fileProblem != ShaderFileProblem::none)
        {
            std::string message = fileProblemText(fileProblem);
            if (startsWithByteOrderMark(step.shader))
                message += " (its name begins with a UTF-8 byte order mark)";
            report.problems.push_back({step.shader, 0, "error", message, {}, {}});
            return;
        }

        std::optional<ReferenceVerdict> reference;
        if (!report.reference.empty())
            reference = compileWithReference(step.shader);

        if (driverAvailable)
        {
            std::ostringstream driverLog;
            std::ostringstream playerLines;
            std::vector<UniformMismatch> mismatches;
            std::streambuf* const previous = sf::err().rdbuf(driverLog.rdbuf());
            step.ok = loadStep({step.shader, step.duration}, playerLines, &mismatches).has_value();
            sf::err().rdbuf(previous);
            const std::string compiler = "driver: " + report.driver;
            if (!step.ok)
            {
                // SFML heads the driver's log with its own line.
                std::string log = driverLog.str();
                for (const char* heading : {"Failed to compile fragment shader:\n", "Failed to link shader:\n"})
                    if (log.rfind(heading, 0) == 0)
                        log.erase(0, std::string(heading).size());
                std::vector<CompilerMessage> messages = parseCompilerLog(log);
                if (messages.empty())
                    messages.push_back({0, "error", "the driver rejects the shader and gives no reason"});
                addCompilerMessages(report, step.shader, messages, "", "", compiler);
            }
            for (const UniformMismatch& mismatch : mismatches)
            {
                const int line = declarationLine(step.shader, mismatch.uniform);
                const std::vector<std::string> source = sourceLines(step.shader);
                report.problems.push_back({step.shader, line, "warning",
                                           "uniform " + mismatch.uniform + " is declared " + mismatch.declaredType +
                                               ", the player sets a " + mismatch.setType + ": it stays unset",
                                           compiler, line > 0 ? source[static_cast<std::size_t>(line) - 1] : ""});
            }
            if (step.ok && reference && !reference->ok)
                addCompilerMessages(report, step.shader, reference->messages, "warning",
                                    "this driver accepts it, but GLSL 1.10 does not (other drivers will refuse it): ",
                                    report.reference);
            return;
        }

        checkDeclaredUniforms(report, step.shader);
        if (!reference)
        {
            report.problems.push_back({step.shader, 0, "error",
                                       "not compiled: no OpenGL display to compile on and no reference compiler "
                                       "(install glslang-tools)",
                                       {}, {}});
            return;
        }
        step.ok = reference->ok;
        if (!step.ok)
            addCompilerMessages(report, step.shader, reference->messages, "", "", report.reference);
    }
}

std::string conversionHint()
{
    return std::string("convert it with: ffmpeg -i ") + musicFileName + " -vn -c:a libvorbis -q:a 6 music-vorbis.ogg";
}

void checkMusic(Report& report)
{
    report.music = inspectMusicFile(musicFileName);
    if (!isRegularFile(musicFileName))
    {
        report.problems.push_back({musicFileName, 0, "error",
                                   std::filesystem::exists(musicFileName) ? "not a regular file: the player cannot open it"
                                                                          : "missing: the player cannot open it",
                                   {}, {}});
        return;
    }
    const std::string what = report.music.container.empty() ? report.music.codec
                                                            : report.music.container + " " + report.music.codec;
    if (!report.music.opens)
    {
        const std::string said = report.music.codec == "unknown" ? "not a sound file the player can read"
                                                                  : what + ", not Ogg Vorbis";
        report.problems.push_back({musicFileName, 0, "error", said + ": the player cannot open it; " + conversionHint(),
                                   {}, {}});
        return;
    }
    if (report.music.codec != "Vorbis")
        report.problems.push_back({musicFileName, 0, "note",
                                   what + ", not Ogg Vorbis: this player opens it, but the show's music is meant to "
                                          "be Ogg Vorbis; " +
                                       conversionHint(),
                                   {}, {}});
}

// Whether OpenAL opens a sound device here, as it would for the player.
// Without one the player's music cannot play and the show holds its first
// step. OpenAL Soft and ALSA say their failures on standard error
// themselves, so it is closed for the probe.
bool soundDeviceOpens()
{
    std::ostringstream quiet;
    std::streambuf* const previous = sf::err().rdbuf(quiet.rdbuf());
#ifndef _WIN32
    std::fflush(stderr);
    const int savedError = dup(2);
    const int nothing = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nothing >= 0)
        dup2(nothing, 2);
#endif
    bool opens = false;
    {
        // SFML opens the device for its first audio object.
        const sf::Music probe;
        opens = audioDeviceIsOpen();
    }
#ifndef _WIN32
    if (savedError >= 0)
    {
        dup2(savedError, 2);
        close(savedError);
    }
    if (nothing >= 0)
        close(nothing);
#endif
    sf::err().rdbuf(previous);
    return opens;
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (byte < 0x20)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        }
        else
            out += c;
    }
    return out + "\"";
}

std::string displayPath(const Options& options, const std::string& file)
{
    if (options.folder == "." || options.folder.empty())
        return file;
    return (std::filesystem::path(options.folder) / file).string();
}

std::vector<float> loadedDurations(const Report& report)
{
    std::vector<float> durations;
    for (const CheckedStep& step : report.steps)
        if (step.ok)
            durations.push_back(step.duration);
    return durations;
}

void printJson(const Options& options, const Report& report, const Timeline& timeline,
               const std::optional<Timeline>& frames)
{
    std::ostream& out = std::cout;
    out.imbue(std::locale::classic());
    out << std::setprecision(9);
    out << "{\n  \"folder\": " << jsonString(options.folder) << ",\n  \"steps\": [";
    std::size_t loaded = 0;
    for (std::size_t i = 0; i < report.steps.size(); ++i)
    {
        const CheckedStep& step = report.steps[i];
        out << (i ? "," : "") << "\n    {\"line\": " << step.line << ", \"shader\": " << jsonString(step.shader)
            << ", \"duration\": " << step.duration << ", \"ok\": " << (step.ok ? "true" : "false");
        if (step.ok)
        {
            const StepTimeline& times = timeline.steps[loaded++];
            out << ", \"index\": " << loaded - 1 << ", \"first_start\": ";
            if (times.firstStartSeconds)
                out << *times.firstStartSeconds;
            else
                out << "null";
            out << ", \"plays\": " << times.plays;
        }
        out << "}";
    }
    out << "\n  ],\n  \"problems\": [";
    for (std::size_t i = 0; i < report.problems.size(); ++i)
    {
        const Problem& problem = report.problems[i];
        out << (i ? "," : "") << "\n    {\"file\": " << jsonString(displayPath(options, problem.file))
            << ", \"line\": " << problem.line << ", \"severity\": " << jsonString(problem.severity)
            << ", \"message\": " << jsonString(problem.message);
        if (!problem.compiler.empty())
            out << ", \"compiler\": " << jsonString(problem.compiler);
        out << "}";
    }
    out << "\n  ],\n  \"music\": {\"ok\": " << (report.music.opens ? "true" : "false")
        << ", \"codec\": " << jsonString(report.music.codec) << ", \"seconds\": " << report.music.seconds << "},\n";
    out << "  \"compilers\": {\"driver\": " << (report.driver.empty() ? "null" : jsonString(report.driver))
        << ", \"driver_version\": " << (report.driver.empty() ? "null" : jsonString(report.driverVersion))
        << ", \"reference\": " << (report.reference.empty() ? "null" : jsonString(report.reference)) << "},\n";
    out << "  \"loaded_steps\": " << loaded << ",\n";
    out << "  \"sound_device\": " << (report.soundDevice ? "true" : "false") << ",\n";
    out << "  \"loops\": " << timeline.loops << ",\n";
    out << "  \"switches_every_frame\": " << (timeline.switchesEveryFrame ? "true" : "false") << ",\n";
    out << "  \"end_step\": ";
    if (timeline.endStep)
        out << *timeline.endStep;
    else
        out << "null";
    if (frames)
    {
        out << ",\n  \"frames\": {\"fps\": " << *options.fps << ", \"switches\": " << frames->switchCount
            << ", \"loops\": " << frames->loops << ", \"end_step\": ";
        if (frames->endStep)
            out << *frames->endStep;
        else
            out << "null";
        out << ", \"last_switch\": " << frames->lastSwitchSeconds
            << ", \"behind_seconds\": " << frames->lastSwitchSeconds - frames->lastSwitchIdealSeconds
            << ", \"first_switches\": [";
        for (std::size_t i = 0; i < frames->firstSwitches.size(); ++i)
        {
            const SwitchAt& at = frames->firstSwitches[i];
            out << (i ? ", " : "") << "{\"frame\": " << at.frame << ", \"time\": " << at.musicSeconds
                << ", \"index\": " << at.newIndex << "}";
        }
        out << "]}";
    }
    out << "\n}\n";
}

std::string seconds(double value)
{
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::fixed << std::setprecision(3) << value;
    return text.str();
}

void printText(const Options& options, const Report& report, const Timeline& timeline,
               const std::optional<Timeline>& frames)
{
    std::ostream& out = std::cout;
    for (const Problem& problem : report.problems)
    {
        out << displayPath(options, problem.file) << ":";
        if (problem.line > 0)
            out << problem.line << ":";
        out << " " << problem.severity << ": " << problem.message;
        if (!problem.compiler.empty())
            out << " [" << problem.compiler << "]";
        out << "\n";
        if (!problem.sourceLine.empty())
            out << std::setw(6) << problem.line << " | " << problem.sourceLine << "\n";
    }

    const std::string sequence = displayPath(options, sequenceFileName);
    out << sequence << ": note: compiled with "
        << (report.driver.empty() ? std::string("no OpenGL driver (no display)") : "the OpenGL driver (" + report.driver + ", OpenGL " + report.driverVersion + ")")
        << (report.reference.empty() ? std::string(", no reference compiler") : ", checked against GLSL 1.10 with " + report.reference)
        << "\n";

    std::size_t loaded = 0;
    for (const CheckedStep& step : report.steps)
        loaded += step.ok ? 1 : 0;
    if (!report.soundDevice)
        out << displayPath(options, musicFileName)
            << ": note: no sound device opens here: the player would leave the music stopped and hold the first "
               "step; with ALSOFT_DRIVERS=null it plays silently\n";
    out << sequence << ": note: " << loaded << " of " << report.steps.size() << " steps load";
    if (report.music.opens)
        out << "; " << musicFileName << " lasts " << seconds(report.music.seconds) << " s";
    out << "\n";
    if (loaded == 0)
        return;

    out << "\n  step  line  shader                          duration  first start  plays\n";
    std::size_t index = 0;
    for (const CheckedStep& step : report.steps)
    {
        if (!step.ok)
            continue;
        const StepTimeline& times = timeline.steps[index];
        std::string shader = step.shader.size() > 30 ? step.shader.substr(0, 27) + "..." : step.shader;
        out << std::setw(6) << index << std::setw(6) << step.line << "  " << std::left << std::setw(30) << shader
            << std::right << std::setw(10) << seconds(step.duration) << std::setw(13)
            << (times.firstStartSeconds ? seconds(*times.firstStartSeconds) : std::string("never")) << std::setw(7)
            << times.plays << "\n";
        ++index;
    }
    out << "\n";
    if (!report.music.opens)
        return;
    if (timeline.switchesEveryFrame)
        out << "Every duration is 0 or less: the player switches on every frame for as long as it runs.\n";
    else
    {
        out << "The sequence starts again from its first step " << timeline.loops << " time"
            << (timeline.loops == 1 ? "" : "s") << " before the track ends.\n";
        const std::size_t end = *timeline.endStep;
        std::size_t seen = 0;
        for (const CheckedStep& step : report.steps)
            if (step.ok && seen++ == end)
                out << "When the track ends, step " << end << " (" << step.shader << ", line " << step.line
                    << ") is on screen and stays until the show is closed.\n";
    }
    if (frames)
    {
        out << "\nAt " << shortNumber(*options.fps) << " frames a second the player switches " << frames->switchCount
            << " times";
        if (frames->switchCount > 0)
            out << "; the last switch comes at " << seconds(frames->lastSwitchSeconds) << " s, "
                << seconds(frames->lastSwitchSeconds - frames->lastSwitchIdealSeconds)
                << " s behind the sum of the durations before it (each switch waits for the next frame and the "
                   "delay is never made up)";
        out << ".\n";
        for (const SwitchAt& at : frames->firstSwitches)
            out << "  frame " << std::setw(7) << at.frame << "  " << std::setw(10) << seconds(at.musicSeconds)
                << " s  -> step " << at.newIndex << "\n";
        if (frames->switchCount > static_cast<long long>(frames->firstSwitches.size()))
            out << "  ...\n";
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> options = readOptions(argc, argv);
    if (!options)
    {
        std::cerr << usage;
        return 2;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(options->folder, error))
    {
        std::cerr << options->folder << ": error: not a folder\n";
        return 1;
    }
    std::filesystem::current_path(options->folder, error);
    if (error)
    {
        std::cerr << options->folder << ": error: cannot enter the folder: " << error.message() << "\n";
        return 1;
    }

    Report report;
    // The driver is reached through a display, as the player reaches it.
    const bool driverAvailable = platform::displayProblem().empty() && sf::Shader::isAvailable();
    std::optional<sf::Context> context;
    if (driverAvailable)
    {
        context.emplace();
        const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        report.driver = renderer != nullptr ? renderer : "unknown renderer";
        report.driverVersion = version != nullptr ? version : "?";
    }
    report.reference = referenceCompilerName();

    checkSequenceFile(report);
    checkShaders(report, driverAvailable);
    checkMusic(report);
    report.soundDevice = soundDeviceOpens();

    const std::vector<float> durations = loadedDurations(report);
    if (durations.empty() && isRegularFile(sequenceFileName))
        report.problems.push_back({sequenceFileName, 0, "error", "no step loads: the player ends at once", {}, {}});
    const double trackSeconds = report.music.opens ? report.music.seconds : 0.0;
    const Timeline timeline = idealTimeline(durations, trackSeconds);
    std::optional<Timeline> frames;
    if (options->fps)
        frames = frameTimeline(durations, trackSeconds, *options->fps, 20);

    if (options->json)
        printJson(*options, report, timeline, frames);
    else
        printText(*options, report, timeline, frames);

    for (const Problem& problem : report.problems)
        if (problem.severity == "error")
            return 1;
    return report.music.opens ? 0 : 1;
}
