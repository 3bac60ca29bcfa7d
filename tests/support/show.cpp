#include "support/show.hpp"

#include "messages.hpp"

#include <stdexcept>

namespace testsupport
{

std::string solidShader(float r, float g, float b)
{
    return "void main() { gl_FragColor = vec4(" + std::to_string(r) + ", " + std::to_string(g) + ", " +
           std::to_string(b) + ", 1.0); }\n";
}

std::string passThroughShader()
{
    return "uniform sampler2D texture;\n"
           "void main() { gl_FragColor = vec4(texture2D(texture, gl_TexCoord[0].xy).rgb, 1.0); }\n";
}

std::string runawayShader()
{
    std::string shader = "uniform float time;\n"
                         "void main()\n"
                         "{\n"
                         "    float x = time;\n"
                         "    float y = 0.5;\n"
                         "    while (x >= 0.0)\n"
                         "    {\n";
    for (int i = 0; i < 200; ++i)
        shader += "        x = abs(sin(x + 1.0) * 0.5 + cos(y) * 0.5) + 0.001; y = fract(x * 3.1);\n";
    shader += "    }\n"
              "    gl_FragColor = vec4(x, y, 0.0, 1.0);\n"
              "}\n";
    return shader;
}

void writeTone(const std::string& path, double seconds, int frequencyHz)
{
    const std::string command = "sox -q -n -r 44100 -c 2 '" + path + "' synth " + std::to_string(seconds) +
                                " sine " + std::to_string(frequencyHz) + " vol 0.5";
    if (shell(command) != 0)
        throw std::runtime_error("sox could not write " + path);
}

Recording measureRecording(const std::string& wavPath)
{
    const std::string reportPath = wavPath + ".stat.txt";
    Recording recording;
    if (shell("sox '" + wavPath + "' -n silence 1 0.01 1% reverse silence 1 0.01 1% reverse remix 1 stat 2>'" +
              reportPath + "'") != 0)
        return recording;
    recording.report = readFile(reportPath);
    auto field = [&](const std::string& name) {
        const std::size_t at = recording.report.find(name);
        return at == std::string::npos ? -1.0 : std::stod(recording.report.substr(recording.report.find(':', at) + 1));
    };
    recording.frequencyHz = field("Rough   frequency");
    recording.rmsAmplitude = field("RMS     amplitude");
    recording.lengthSeconds = field("Length (seconds)");
    return recording;
}

RunResult runPlayer(const TempDir& folder, const std::vector<std::string>& args,
                    const std::vector<std::string>& extraEnv)
{
    std::vector<std::string> argv = {QUORVEL_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = {"ALSOFT_DRIVERS=null"};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return runProgram(argv, folder.path(), std::chrono::seconds(60), env);
}

std::vector<std::string> playerWithMergedStreams(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QUORVEL_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::vector<std::string> ourLines(const std::string& text)
{
    static const char* const prefixes[] = {messages::cannotOpenFile, messages::shaderFailed,
                                           messages::shadersLoaded,  messages::noShaderLoaded,
                                           messages::musicFailed,    messages::shaderChanged};
    std::vector<std::string> result;
    for (const std::string& line : lines(text))
        for (const char* prefix : prefixes)
            if (line.rfind(prefix, 0) == 0)
            {
                result.push_back(line);
                break;
            }
    return result;
}

} // namespace testsupport
