#include "show/reference_compiler.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace
{

const char* const validatorName = "glslangValidator";

#ifndef _WIN32
std::string findOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size())
    {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        struct stat info
        {
        };
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// Runs argv with standard output and error into one string; its exit status, -1 when it could not run.
int runCapturing(const std::vector<std::string>& argv, std::string& output)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return -1;
    const pid_t child = fork();
    if (child < 0)
    {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return -1;
    }
    if (child == 0)
    {
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    char buffer[4096];
    for (;;)
    {
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got > 0)
            output.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

} // namespace

std::string referenceCompilerName()
{
#ifdef _WIN32
    return {};
#else
    const std::string validator = findOnPath(validatorName);
    if (validator.empty())
        return {};
    std::string output;
    runCapturing({validator, "-dumpfullversion"}, output);
    output.erase(std::remove(output.begin(), output.end(), '\n'), output.end());
    return output.empty() ? "glslang" : "glslang " + output;
#endif
}

ReferenceVerdict compileWithReference(const std::string& shaderPath)
{
    ReferenceVerdict verdict;
#ifndef _WIN32
    const std::string validator = findOnPath(validatorName);
    if (validator.empty())
        return verdict;
    std::string output;
    // -d: GLSL 1.10 for a shader that names no version, as OpenGL drivers read it.
    const int status = runCapturing({validator, "-d", "-S", "frag", shaderPath}, output);
    verdict.ok = status == 0;
    for (CompilerMessage& message : parseCompilerLog(output))
    {
        const bool summary = message.text == shaderPath ||
                             message.text.find("compilation terminated") != std::string::npos ||
                             message.text.find("compilation errors") != std::string::npos;
        if (!summary)
            verdict.messages.push_back(std::move(message));
    }
    if (!verdict.ok && verdict.messages.empty())
        verdict.messages.push_back({0, "error", "glslang rejects the shader (status " + std::to_string(status) + ")"});
#else
    (void)shaderPath;
#endif
    return verdict;
}
