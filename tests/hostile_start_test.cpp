// Starts that real machines and shells produce: odd screen layouts without a
// window manager, closed standard streams, displays without a usable OpenGL
// visual, a console reader that goes away. Each one either plays until
// Escape or ends at once with one line saying what is missing; none hangs,
// crashes or dies of a signal.

#include "messages.hpp"
#include "support/case_name.hpp"
#include "support/display.hpp"
#include "support/eventually.hpp"
#include "support/show.hpp"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include <algorithm>
#include <memory>

namespace
{

using namespace std::chrono_literals;
using testsupport::Rgb;
using testsupport::TempDir;

const char* const title = "Quorvel Desktop Overlay";
const Rgb red{255, 0, 0};
const Rgb green{0, 255, 0};

struct Monitor
{
    int x, y, width, height;
};

struct StartCase
{
    const char* name;
    int width, height, depth;
    std::vector<std::string> serverArgs;
    std::vector<Monitor> monitors; // the first is the primary; none: the screen is one monitor
    const char* shell;             // how the player is started; $0 is the player
    std::string endsWith;          // the one line of a start that cannot play; empty: it plays
    std::string warning = {};      // the start of a line said once on standard error by a show that plays
    int drawnWidth = 0;            // how much of the primary monitor the driver can draw; 0: all of it
};

// GoogleTest names the case by its description rather than its bytes.
void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

const char* const plain = "exec \"$0\"";

const StartCase startCases[] = {
    // SFML 2.5 would place these windows wholly below the screen and wait for them forever.
    {"screen three times as wide as tall", 1200, 400, 24, {}, {}, plain, ""},
    {"two monitors side by side", 640, 120, 24, {}, {{0, 0, 320, 120}, {320, 0, 320, 120}}, plain, ""},
    {"primary monitor on the right", 640, 120, 24, {}, {{320, 0, 320, 120}, {0, 0, 320, 120}}, plain, ""},

    // The X server refuses to read outside the screen: the show plays over black and says why.
    {"primary monitor larger than the screen", 160, 120, 24, {}, {{0, 0, 200, 120}}, plain, "",
     "Istantanea del desktop non riuscita (XShmGetImage: BadMatch"},

    // Wider than the driver's largest texture (16384 with llvmpipe): the show plays over black and says why.
    // llvmpipe draws no wider than that either, so only that much of the screen is watched.
    {"screen wider than the largest texture", 17000, 200, 24, {}, {}, plain, "",
     "Istantanea del desktop non riuscita (schermo di 17000x200 pixel, oltre il lato massimo delle texture", 16384},

    {"standard output closed", 160, 120, 24, {}, {}, "exec \"$0\" >&-", ""},
    {"standard error closed", 160, 120, 24, {}, {}, "exec \"$0\" 2>&-", ""},
    {"all standard streams closed", 160, 120, 24, {}, {}, "exec \"$0\" <&- >&- 2>&-", ""},
    // bash reports a death by SIGPIPE as 141; the player must outlive its reader.
    {"console reader goes away", 160, 120, 24, {}, {}, "\"$0\" | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}", ""},

    {"no GLX", 160, 120, 24, {"-extension", "GLX"}, {}, plain, "Il display X :N non offre OpenGL"},
    // Xvfb offers no GLX at 8 bits.
    {"8-bit screen", 160, 120, 8, {}, {}, plain, "Il display X :N non offre OpenGL"},
    {"16-bit screen", 160, 120, 16, {}, {}, plain, "Il display X :N ha colori a 16 bit"},
};

class HostileStartTest : public testing::TestWithParam<StartCase>
{
};

// Two steps that take turns every 0.3 s of music, so the screen shows
// whether the show goes on.
void alternatingShow(const TempDir& folder)
{
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    folder.write("green.frag", testsupport::solidShader(0, 1, 0));
    folder.write("shader_sequence.txt", "red.frag 0.3\ngreen.frag 0.3\n");
    testsupport::writeTone(folder.file("music.ogg"), 30);
}

bool screenIs(const Rgb& colour, const Monitor& area)
{
    const testsupport::Screenshot shot = testsupport::takeScreenshot();
    for (int y = area.y; y < std::min(area.y + area.height, shot.height); ++y)
        for (int x = area.x; x < std::min(area.x + area.width, shot.width); ++x)
            if (!(shot.at(x, y) == colour))
                return false;
    return true;
}

std::string withDisplayNumber(std::string line, const std::string& display)
{
    const std::size_t at = line.find(":N");
    if (at != std::string::npos)
        line.replace(at, 2, display);
    return line;
}

TEST_P(HostileStartTest, PlaysOrEndsWithOneLine)
{
    const StartCase& c = GetParam();
    testsupport::VirtualDisplay display(c.width, c.height, c.depth, c.serverArgs);
    if (!c.monitors.empty())
    {
        std::string command = "xrandr --output screen --noprimary";
        for (std::size_t i = 0; i < c.monitors.size(); ++i)
        {
            const Monitor& m = c.monitors[i];
            command += " && xrandr --setmonitor '" + std::string(i == 0 ? "*" : "") + "m" + std::to_string(i) + "' " +
                       std::to_string(m.width) + "/10x" + std::to_string(m.height) + "/10+" + std::to_string(m.x) +
                       "+" + std::to_string(m.y) + " none";
        }
        ASSERT_EQ(testsupport::shell(command), 0);
    }
    TempDir folder;
    alternatingShow(folder);
    testsupport::RunningProgram player({"bash", "-c", c.shell, QUORVEL_BINARY}, folder.path(),
                                       {"ALSOFT_DRIVERS=null"});

    if (!c.endsWith.empty())
    {
        ASSERT_TRUE(player.waitForExit(30s)) << "it must not hang";
        EXPECT_EQ(player.exitStatus(), 255);
        const std::vector<std::string> err = testsupport::lines(player.err());
        ASSERT_EQ(err.size(), 1u) << player.err();
        EXPECT_EQ(err[0].rfind(withDisplayNumber(c.endsWith, display.name()), 0), 0u) << err[0];
        EXPECT_EQ(player.out(), "");
        return;
    }

    const Monitor primary = c.monitors.empty() ? Monitor{0, 0, c.width, c.height} : c.monitors.front();
    Monitor drawn = primary;
    if (c.drawnWidth > 0)
        drawn.width = std::min(drawn.width, c.drawnWidth);
    ASSERT_TRUE(testsupport::eventually([] { return testsupport::findWindow(title).viewable; }, 20s))
        << "the window never came up: " << player.err();
    // The show goes on: red, green and red again on the primary monitor.
    for (const Rgb& colour : {red, green, red})
        ASSERT_TRUE(testsupport::eventually([&] { return screenIs(colour, drawn); }, 10s))
            << "waiting for " << testsupport::describe(colour) << "; " << player.err();
    ASSERT_TRUE(player.running());
    const testsupport::WindowInfo window = testsupport::findWindow(title);
    EXPECT_EQ(window.x, primary.x);
    EXPECT_EQ(window.y, primary.y);
    EXPECT_EQ(window.width, primary.width);
    EXPECT_EQ(window.height, primary.height);

    ASSERT_EQ(testsupport::shell("xdotool key Escape"), 0);
    ASSERT_TRUE(player.waitForExit(10s)) << "Escape must end it";
    EXPECT_EQ(player.signal(), 0);
    EXPECT_EQ(player.exitStatus(), 0);
    EXPECT_EQ(player.err().find("Failed to create texture"), std::string::npos) << "SFML's own words, not ours";
    if (!c.warning.empty())
    {
        const std::string err = player.err();
        const std::size_t at = err.find(c.warning);
        EXPECT_NE(at, std::string::npos) << err;
        EXPECT_EQ(err.find(c.warning, at + 1), std::string::npos) << "said once";
    }
}

INSTANTIATE_TEST_SUITE_P(Starts, HostileStartTest, testing::ValuesIn(startCases),
                         [](const testing::TestParamInfo<StartCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

// An X server that goes away just after greeting the player: a proxy in
// front of a real one forwards the connection's set-up, then hangs up on the
// first request that follows. Xlib then reports a lost connection during the
// very first check, before anything else has been set up.
class HangUpAfterGreeting
{
public:
    explicit HangUpAfterGreeting(const std::string& realDisplay)
    {
        m_realSocket = "/tmp/.X11-unix/X" + realDisplay.substr(1);
        for (int number = 400; number < 500 && m_listener < 0; ++number)
        {
            const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
            const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
            if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 4) == 0)
            {
                m_listener = fd;
                m_path = path;
                name = ":" + std::to_string(number);
            }
            else
                close(fd);
        }
        if (m_listener >= 0)
            m_thread = std::thread([this] { serve(); });
    }

    ~HangUpAfterGreeting()
    {
        shutdown(m_listener, SHUT_RDWR);
        close(m_listener);
        if (m_thread.joinable())
            m_thread.join();
        std::remove(m_path.c_str());
    }

    std::string name;

private:
    void serve()
    {
        const int client = accept(m_listener, nullptr, nullptr);
        if (client < 0)
            return;
        const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_realSocket.c_str());
        if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            forwardGreetingThenHangUp(client, server);
        close(server);
        close(client);
    }

    static void forwardGreetingThenHangUp(int client, int server)
    {
        std::size_t greetingLeft = 0;
        bool greetingStarted = false;
        pollfd ends[] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char buffer[65536];
        while (poll(ends, 2, 10000) > 0)
        {
            if (ends[0].revents != 0)
            {
                const ssize_t got = read(client, buffer, sizeof buffer);
                // The first request after the greeting: hang up.
                if (got <= 0 || (greetingStarted && greetingLeft == 0))
                    return;
                if (write(server, buffer, static_cast<std::size_t>(got)) != got)
                    return;
            }
            if (ends[1].revents != 0)
            {
                const ssize_t got = read(server, buffer, sizeof buffer);
                if (got <= 0)
                    return;
                if (!greetingStarted && got >= 8)
                {
                    // The set-up reply: 8 bytes, then its length in 4-byte units (little-endian client).
                    greetingStarted = true;
                    const auto units = static_cast<unsigned char>(buffer[6]) | static_cast<unsigned char>(buffer[7]) << 8;
                    greetingLeft = 8 + 4 * static_cast<std::size_t>(units);
                }
                greetingLeft -= std::min(greetingLeft, static_cast<std::size_t>(got));
                if (write(client, buffer, static_cast<std::size_t>(got)) != got)
                    return;
            }
        }
    }

    int m_listener = -1;
    std::string m_path;
    std::string m_realSocket;
    std::thread m_thread;
};

TEST(HostileStart, ADisplayLostDuringTheFirstCheckEndsWithTheProgramsLine)
{
    testsupport::VirtualDisplay display(160, 120);
    HangUpAfterGreeting proxy(display.name());
    ASSERT_FALSE(proxy.name.empty()) << "no free display number for the proxy";
    TempDir folder;
    alternatingShow(folder);
    const testsupport::RunResult result = testsupport::runProgram(
        {QUORVEL_BINARY}, folder.path(), 30s,
        {"DISPLAY=" + proxy.name, "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=", "ALSOFT_DRIVERS=null"});
    EXPECT_EQ(result.exitStatus, 255) << result.err;
    EXPECT_EQ(result.err, "Connessione al display X persa: il programma termina.\n");
    EXPECT_EQ(result.out, "");
}

} // namespace
