#include "support/wayland_session.hpp"

#include "support/eventually.hpp"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <regex>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport
{
namespace
{

const char* const testUser = "quorvel-test";

struct UserIds
{
    uid_t uid;
    gid_t gid;
};

// The unprivileged user the session runs as; created when missing.
UserIds sessionUser()
{
    if (geteuid() != 0)
        return {geteuid(), getegid()};
    if (getpwnam(testUser) == nullptr && shell(std::string("useradd --system --no-create-home ") + testUser) != 0)
        throw std::runtime_error("cannot create the user quorvel-test");
    const passwd* user = getpwnam(testUser);
    return {user->pw_uid, user->pw_gid};
}

} // namespace

WaylandSession::WaylandSession(Compositor compositor, int width, int height, const std::string& background,
                               const std::string& swayConfig)
    : m_folder(std::make_unique<TempDir>())
{
    const UserIds user = sessionUser();
    m_runtimeDir = m_folder->file("runtime");
    std::filesystem::create_directory(m_runtimeDir);
    chmod(m_folder->path().c_str(), 0755);
    chmod(m_runtimeDir.c_str(), 0700);
    if (chown(m_folder->path().c_str(), user.uid, user.gid) != 0 || chown(m_runtimeDir.c_str(), user.uid, user.gid) != 0)
        throw std::runtime_error("cannot hand the session folder to its user");

    std::vector<std::string> argv;
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + m_runtimeDir, "HOME=" + m_folder->path(), "WAYLAND_DISPLAY=",
                                    "DISPLAY=", "XDG_SESSION_TYPE="};
    std::regex xDisplayLine;
    if (compositor == Compositor::Sway)
    {
        m_folder->write("sway.conf", "output HEADLESS-1 resolution " + std::to_string(width) + "x" +
                                         std::to_string(height) + " bg #" + background +
                                         " solid_color\nxwayland force\n" + swayConfig);
        argv = {"sway", "-d", "-c", m_folder->file("sway.conf")};
        env.insert(env.end(), {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"});
        xDisplayLine = std::regex("Xserver is ready");
    }
    else
    {
        m_folder->write("weston.ini", "[shell]\nbackground-color=0xff" + background + "\npanel-position=none\n");
        argv = {"weston", "--backend=headless-backend.so", "--use-pixman", "--xwayland",
                "--width=" + std::to_string(width), "--height=" + std::to_string(height),
                "--config=" + m_folder->file("weston.ini")};
        xDisplayLine = std::regex("xserver listening on display");
    }
    m_compositor = std::make_unique<RunningProgram>(asUser(argv), m_folder->path(), env);

    // Ready once XWayland is up; its display number is in the log.
    const std::regex displayNumber("(on|display) (:[0-9]+)");
    const bool ready = eventually(
        [&] {
            const std::string log = m_compositor->err() + m_compositor->out();
            std::smatch found;
            for (const std::string& line : lines(log))
                if (compositor == Compositor::Sway && line.find("Starting Xwayland on") != std::string::npos &&
                    std::regex_search(line, found, displayNumber))
                    m_xDisplay = found[2];
                else if (compositor == Compositor::Weston && std::regex_search(line, xDisplayLine) &&
                         std::regex_search(line, found, displayNumber))
                    m_xDisplay = found[2];
            const bool xReady = !m_xDisplay.empty() &&
                                (compositor == Compositor::Weston || std::regex_search(log, xDisplayLine));
            return xReady || !m_compositor->running();
        },
        std::chrono::seconds(20));
    if (!ready || !m_compositor->running() || m_xDisplay.empty())
        throw std::runtime_error("the compositor did not start:\n" + m_compositor->err().substr(0, 4000));
}

WaylandSession::~WaylandSession()
{
    m_pipewire.reset();
    m_bus.reset();
    m_compositor.reset();
}

void WaylandSession::startPortal()
{
    const std::string socket = m_runtimeDir + "/bus";
    std::vector<std::string> env = environment();
    env.push_back("XDG_CURRENT_DESKTOP=sway"); // picks the wlroots portal back end
    // xdg-desktop-portal-wlr 0.7 has grim write every screenshot to the fixed
    // path /tmp/out.png: one left there by another user makes it fail.
    struct stat left{};
    if (stat("/tmp/out.png", &left) == 0 && left.st_uid != sessionUser().uid)
        std::filesystem::remove("/tmp/out.png");
    m_bus = std::make_unique<RunningProgram>(
        asUser({"dbus-daemon", "--session", "--address=unix:path=" + socket, "--nofork", "--nopidfile"}),
        m_folder->path(), env);
    if (!eventually([&] { return std::filesystem::exists(socket) || !m_bus->running(); }, std::chrono::seconds(10)) ||
        !m_bus->running())
        throw std::runtime_error("the session bus did not start:\n" + m_bus->err());
    m_busAddress = "unix:path=" + socket;
    env.push_back("DBUS_SESSION_BUS_ADDRESS=" + m_busAddress);
    m_pipewire = std::make_unique<RunningProgram>(asUser({"pipewire"}), m_folder->path(), env);
    if (!eventually([&] { return std::filesystem::exists(m_runtimeDir + "/pipewire-0") || !m_pipewire->running(); },
                    std::chrono::seconds(10)) ||
        !m_pipewire->running())
        throw std::runtime_error("PipeWire did not start:\n" + m_pipewire->err());
}

std::string WaylandSession::reachable(const std::string& path) const
{
    return reachableCopy(path, *m_folder);
}

std::vector<std::string> WaylandSession::asUser(const std::vector<std::string>& argv) const
{
    if (geteuid() != 0)
        return argv;
    const UserIds user = sessionUser();
    std::vector<std::string> wrapped = {"setpriv", "--reuid=" + std::to_string(user.uid),
                                        "--regid=" + std::to_string(user.gid), "--clear-groups", "--",
                                        reachable(argv.front())};
    wrapped.insert(wrapped.end(), argv.begin() + 1, argv.end());
    return wrapped;
}

std::vector<std::string> WaylandSession::environment() const
{
    std::string waylandDisplay = "wayland-0";
    std::string swaySocket;
    for (const auto& entry : std::filesystem::directory_iterator(m_runtimeDir))
    {
        const std::string name = entry.path().filename();
        if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos)
            waylandDisplay = name;
        if (name.rfind("sway-ipc.", 0) == 0)
            swaySocket = entry.path();
    }
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + m_runtimeDir, "WAYLAND_DISPLAY=" + waylandDisplay,
                                    "DISPLAY=" + m_xDisplay,           "HOME=" + m_folder->path(),
                                    "XDG_SESSION_TYPE=wayland",        "SWAYSOCK=" + swaySocket,
                                    "DBUS_SESSION_BUS_ADDRESS=" + m_busAddress};
    // The sanitizer build's files, where the session's user can read them.
    const std::vector<std::string> sanitizer = sanitizerEnvironmentFor(*m_folder);
    env.insert(env.end(), sanitizer.begin(), sanitizer.end());
    return env;
}

std::unique_ptr<RunningProgram> WaylandSession::start(const std::vector<std::string>& argv, const std::string& workDir,
                                                      const std::vector<std::string>& extraEnv) const
{
    std::vector<std::string> env = environment();
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return std::make_unique<RunningProgram>(asUser(argv), workDir, env);
}

RunResult WaylandSession::run(const std::vector<std::string>& argv, const std::string& workDir) const
{
    return runProgram(asUser(argv), workDir, std::chrono::seconds(30), environment());
}

} // namespace testsupport
