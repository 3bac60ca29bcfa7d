#pragma once

// Runs the real binary (or any helper program) as a child process.

#include <chrono>
#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport
{

struct RunResult
{
    int exitStatus = -1; // as the shell sees it; -1 when killed by a signal
    int signal = 0;
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ChildSetup
{
    std::string workDir;                // empty: this process's
    std::vector<std::string> extraEnv;  // "NAME=value"; "NAME=" unsets
    std::string outPath = "/dev/null";  // standard output
    std::string errPath = "/dev/null";  // standard error
    int keepFd = -1;                    // one descriptor above 2 left open; all others are closed
};

// Starts argv as a child in a process group of its own, standard input
// reading /dev/null. Returns its pid.
pid_t startChild(const std::vector<std::string>& argv, const ChildSetup& setup = {});

// Runs argv in workDir until it exits (killed after the timeout), with the
// environment of this process plus extraEnv ("NAME=value"; "NAME=" unsets).
RunResult runProgram(const std::vector<std::string>& argv, const std::string& workDir,
                     std::chrono::milliseconds timeout = std::chrono::seconds(30),
                     const std::vector<std::string>& extraEnv = {});

// A child left running while the test drives it; its output goes to files
// that can be read at any time.
class RunningProgram
{
public:
    RunningProgram(const std::vector<std::string>& argv, const std::string& workDir,
                   const std::vector<std::string>& extraEnv = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    std::string out() const;
    std::string err() const;
    // Polls standard output until it holds text; false on timeout.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;
    // Waits for the exit; false when it is still running after the timeout.
    bool waitForExit(std::chrono::milliseconds timeout);
    bool running();
    int exitStatus() const { return m_exitStatus; }
    int signal() const { return m_signal; }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    std::string m_outPath;
    std::string m_errPath;
    bool m_exited = false;
    int m_exitStatus = -1;
    int m_signal = 0;
};

// A fresh empty directory, removed with everything in it at destruction.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    void write(const std::string& name, const std::string& contents) const;

private:
    std::string m_path;
};

// For a program run as another user while this one runs as root: a copy of
// `path` in `folder`, made once and readable by all, when the path lies where
// that user may not reach it (a checkout under /root); else the path itself.
std::string reachableCopy(const std::string& path, const TempDir& folder);

// The sanitizer build's LD_PRELOAD and LSAN_OPTIONS of this process, with
// their files given as reachable copies in `folder`; nothing when unset.
std::vector<std::string> sanitizerEnvironmentFor(const TempDir& folder);

// How many threads the process has now (0 once it is gone).
std::size_t threadCount(pid_t pid);

std::string readFile(const std::string& path);
std::vector<std::string> lines(const std::string& text);
// Runs a shell command line; returns its exit status.
int shell(const std::string& command);

} // namespace testsupport
