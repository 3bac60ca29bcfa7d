#include "process.hpp"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport
{
namespace
{

void decodeStatus(int status, int& exitStatus, int& signal)
{
    if (WIFEXITED(status))
    {
        exitStatus = WEXITSTATUS(status);
        signal = 0;
    }
    else if (WIFSIGNALED(status))
    {
        exitStatus = -1;
        signal = WTERMSIG(status);
    }
}

} // namespace

pid_t startChild(const std::vector<std::string>& argv, const ChildSetup& setup)
{
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid > 0)
        return pid;

    // Child: its own process group, so that a kill reaches anything it starts.
    setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(setup.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(setup.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || (!setup.workDir.empty() && chdir(setup.workDir.c_str()) != 0))
        _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (int fd = 3; fd < 256; ++fd)
        if (fd != setup.keepFd)
            close(fd);
    for (const std::string& entry : setup.extraEnv)
    {
        const std::size_t eq = entry.find('=');
        const std::string name = entry.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : entry.substr(eq + 1);
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

RunResult runProgram(const std::vector<std::string>& argv, const std::string& workDir,
                     std::chrono::milliseconds timeout, const std::vector<std::string>& extraEnv)
{
    RunResult result;
    RunningProgram program(argv, workDir, extraEnv);
    if (!program.waitForExit(timeout))
    {
        result.timedOut = true;
        kill(-program.pid(), SIGKILL);
        program.waitForExit(std::chrono::seconds(10));
    }
    result.exitStatus = program.exitStatus();
    result.signal = program.signal();
    result.out = program.out();
    result.err = program.err();
    return result;
}

RunningProgram::RunningProgram(const std::vector<std::string>& argv, const std::string& workDir,
                               const std::vector<std::string>& extraEnv)
{
    char outTemplate[] = "/tmp/quorvel-test-out-XXXXXX";
    char errTemplate[] = "/tmp/quorvel-test-err-XXXXXX";
    close(mkstemp(outTemplate));
    close(mkstemp(errTemplate));
    m_outPath = outTemplate;
    m_errPath = errTemplate;
    m_pid = startChild(argv, {workDir, extraEnv, m_outPath, m_errPath, -1});
}

RunningProgram::~RunningProgram()
{
    if (!m_exited)
    {
        kill(-m_pid, SIGKILL);
        kill(m_pid, SIGKILL);
        waitForExit(std::chrono::seconds(10));
    }
    std::remove(m_outPath.c_str());
    std::remove(m_errPath.c_str());
}

std::string RunningProgram::out() const { return readFile(m_outPath); }
std::string RunningProgram::err() const { return readFile(m_errPath); }

bool RunningProgram::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (out().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return out().find(text) != std::string::npos;
}

bool RunningProgram::running()
{
    if (m_exited)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid)
    {
        m_exited = true;
        decodeStatus(status, m_exitStatus, m_signal);
    }
    return !m_exited;
}

bool RunningProgram::waitForExit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TempDir::TempDir()
{
    char pathTemplate[] = "/tmp/quorvel-test-XXXXXX";
    if (mkdtemp(pathTemplate) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pathTemplate;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Tests make some entries unreadable; give the permissions back first.
    // The iterator is advanced with an error code: a range-for's ++ throws on
    // an entry that cannot be read (a FUSE mount left by a session, say), and
    // a destructor must not throw.
    namespace fs = std::filesystem;
    std::error_code walking;
    for (fs::recursive_directory_iterator it(m_path, fs::directory_options::skip_permission_denied, walking), end;
         !walking && it != end; it.increment(walking))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_path, ignored);
}

void TempDir::write(const std::string& name, const std::string& contents) const
{
    std::ofstream stream(file(name), std::ios::binary);
    stream << contents;
    if (!stream)
        throw std::runtime_error("cannot write " + name);
}

std::string reachableCopy(const std::string& path, const TempDir& folder)
{
    if (geteuid() != 0 || path.empty() || path[0] != '/' || path.rfind("/usr/", 0) == 0)
        return path;
    const std::string copy = folder.file("reachable-" + std::filesystem::path(path).filename().string());
    std::error_code ignored;
    // Once: a running program maps its copy, which must not change under it.
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::skip_existing, ignored);
    chmod(copy.c_str(), 0755);
    return copy;
}

std::vector<std::string> sanitizerEnvironmentFor(const TempDir& folder)
{
    std::vector<std::string> env;
    if (const char* preload = std::getenv("LD_PRELOAD"))
        env.push_back("LD_PRELOAD=" + reachableCopy(preload, folder));
    if (const char* leakOptions = std::getenv("LSAN_OPTIONS"))
    {
        std::string options = leakOptions;
        const std::string key = "suppressions=";
        const std::size_t at = options.find(key);
        if (at != std::string::npos)
        {
            const std::size_t end = options.find(':', at);
            const std::size_t from = at + key.size();
            const std::string file = options.substr(from, end == std::string::npos ? std::string::npos : end - from);
            options.replace(from, file.size(), reachableCopy(file, folder));
        }
        env.push_back("LSAN_OPTIONS=" + options);
    }
    return env;
}

std::size_t threadCount(pid_t pid)
{
    std::error_code error;
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        result.push_back(line);
    return result;
}

int shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace testsupport
