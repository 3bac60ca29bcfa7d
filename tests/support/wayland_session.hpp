#pragma once

// A private headless Wayland compositor with XWayland, for the tests of the
// Wayland session. Compositors refuse to run as root, so the compositor and
// every client run as an unprivileged user (created once when the tests run
// as root). Includes no Xlib header.

#include "support/process.hpp"

#include <memory>
#include <string>
#include <vector>

namespace testsupport
{

enum class Compositor
{
    Sway,   // wlroots: offers the screen-copy protocol
    Weston, // offers neither screen copy nor a portal
};

class WaylandSession
{
public:
    // An output of width x height filled with the colour "rrggbb"; swayConfig
    // adds lines to sway's configuration.
    WaylandSession(Compositor compositor, int width, int height, const std::string& background,
                   const std::string& swayConfig = "");
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // argv as a client of this session (the same user, its runtime folder,
    // WAYLAND_DISPLAY and XWayland's DISPLAY), in workDir.
    std::unique_ptr<RunningProgram> start(const std::vector<std::string>& argv, const std::string& workDir,
                                          const std::vector<std::string>& extraEnv = {}) const;
    RunResult run(const std::vector<std::string>& argv, const std::string& workDir = "/") const;
    // The environment a client gets, "NAME=value".
    std::vector<std::string> environment() const;
    // Starts a private session bus with PipeWire, on which the desktop
    // portal and its wlroots back end are started on demand (sway only).
    void startPortal();
    // A folder the session's user may read and write.
    const std::string& folder() const { return m_folder->path(); }
    // XWayland's display name, ":N".
    const std::string& xDisplay() const { return m_xDisplay; }

private:
    std::vector<std::string> asUser(const std::vector<std::string>& argv) const;
    // The session's user may not reach files under a private home (a checkout
    // in /root, say): programs and the sanitizer build's preload library and
    // suppressions are copied into the session folder first.
    std::string reachable(const std::string& path) const;

    std::unique_ptr<TempDir> m_folder;
    std::string m_runtimeDir;
    std::string m_xDisplay;
    std::unique_ptr<RunningProgram> m_compositor;
    std::string m_busAddress;
    std::unique_ptr<RunningProgram> m_bus;
    std::unique_ptr<RunningProgram> m_pipewire;
};

} // namespace testsupport
