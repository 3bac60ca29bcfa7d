// The real binary in a Wayland session: a headless compositor with XWayland,
// started by the test as an unprivileged user. The snapshot must be the
// compositor's true pixels (through XWayland the X root window reads back
// black), the overlay must cover the output and keep the keyboard, and a
// compositor that offers no way to read the screen gets one line and a show
// over black.

#include "support/case_name.hpp"
#include "support/display.hpp"
#include "support/eventually.hpp"
#include "support/show.hpp"
#include "support/wayland_session.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <thread>
#include <memory>

namespace
{

using namespace std::chrono_literals;
using testsupport::Rgb;
using testsupport::WaylandSession;

constexpr int outputWidth = 320;
constexpr int outputHeight = 240;
const char* const title = "Quorvel Desktop Overlay";

// Shows the snapshot with its colours inverted, so that the overlay and the
// desktop beneath it cannot be mistaken for each other.
const char* const invertingShader =
    "uniform sampler2D texture;\n"
    "void main() { gl_FragColor = vec4(1.0 - texture2D(texture, gl_TexCoord[0].xy).bgr, 1.0); }\n";

Rgb inverted(const Rgb& c) { return {std::uint8_t(255 - c.r), std::uint8_t(255 - c.g), std::uint8_t(255 - c.b)}; }

class WaylandTest : public testing::Test
{
protected:
    // The output as grim reads it from the compositor.
    testsupport::Screenshot outputShot(const WaylandSession& session) const
    {
        const std::string png = session.folder() + "/shot.png";
        const std::string raw = session.folder() + "/shot.rgb";
        std::remove(png.c_str());
        const testsupport::RunResult grim = session.run({"grim", png});
        testsupport::Screenshot shot;
        if (grim.exitStatus != 0 || testsupport::shell("convert '" + png + "' -depth 8 rgb:'" + raw + "'") != 0)
            return shot;
        const std::string bytes = testsupport::readFile(raw);
        shot.width = outputWidth;
        shot.height = static_cast<int>(bytes.size() / 3 / outputWidth);
        for (std::size_t i = 0; i + 2 < bytes.size(); i += 3)
            shot.pixels.push_back({std::uint8_t(bytes[i]), std::uint8_t(bytes[i + 1]), std::uint8_t(bytes[i + 2])});
        return shot;
    }

    void writeShow(const WaylandSession& session, const std::string& shader) const
    {
        const std::string show = session.folder();
        std::ofstream(show + "/effect.frag") << shader;
        std::ofstream(show + "/shader_sequence.txt") << "effect.frag 100\n";
        testsupport::writeTone(show + "/music.ogg", 30);
    }

    std::unique_ptr<testsupport::RunningProgram> startPlayer(const WaylandSession& session,
                                                             const std::string& snapshotPath = "") const
    {
        return session.start({QUORVEL_BINARY}, session.folder(),
                             {"ALSOFT_DRIVERS=null", "QUORVEL_SNAPSHOT=" + snapshotPath});
    }

    static void pressEscape(const WaylandSession& session)
    {
        ASSERT_EQ(session.run({"xdotool", "key", "Escape"}).exitStatus, 0);
    }
};

// At output scale 2 the compositor's pixels are twice XWayland's screen size:
// the snapshot is scaled down to the window, which covers the whole output.
class WaylandScaleTest : public WaylandTest, public testing::WithParamInterface<int>
{
};

TEST_P(WaylandScaleTest, SnapshotIsTheCompositorsPicture)
{
    const int scale = GetParam();
    const Rgb background{0x33, 0x66, 0x99};
    const Rgb red{255, 0, 0};
    // Points in the compositor's layout, read back in output pixels.
    const auto at = [&](const testsupport::Screenshot& shot, int x, int y) { return shot.at(x * scale, y * scale); };
    WaylandSession session(testsupport::Compositor::Sway, outputWidth, outputHeight, "336699",
                           "output HEADLESS-1 scale " + std::to_string(scale) + "\n"
                           "for_window [app_id=\"foot\"] floating enable, resize set 120 80, move position 40 40\n"
                           "default_floating_border none\n");
    // A Wayland window of a known colour over the background.
    auto terminal = session.start({"foot", "-o", "colors.background=ff0000", "sh", "-c", "sleep 60"}, session.folder());
    ASSERT_TRUE(testsupport::eventually(
        [&] {
            const testsupport::Screenshot shot = outputShot(session);
            return !shot.pixels.empty() && at(shot, 100, 80) == red;
        },
        15s))
        << terminal->err();

    writeShow(session, invertingShader);
    auto player = startPlayer(session);
    ASSERT_TRUE(testsupport::eventually(
        [&] {
            const testsupport::Screenshot shot = outputShot(session);
            return !shot.pixels.empty() && at(shot, 2, 2) == inverted(background) &&
                   at(shot, 100, 80) == inverted(red) && at(shot, 20, 100) == inverted(background) &&
                   at(shot, 150, 110) == inverted(red);
        },
        20s))
        << "the overlay shows the true desktop, inverted, over the whole output\n"
        << player->err();
    EXPECT_EQ(player->err().find("Istantanea del desktop non riuscita"), std::string::npos) << player->err();

    // A window opened later neither covers the overlay nor takes the keyboard.
    auto later = session.start({"foot", "sh", "-c", "sleep 60"}, session.folder());
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(at(outputShot(session), 20, 100), inverted(background)) << "still covered by the overlay";
    pressEscape(session);
    ASSERT_TRUE(player->waitForExit(10s)) << "Escape reaches the overlay";
    EXPECT_EQ(player->exitStatus(), 0) << player->err();
}

INSTANTIATE_TEST_SUITE_P(Scales, WaylandScaleTest, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& info) { return "Scale" + std::to_string(info.param); });

// The path for GNOME and KDE, which have no screen copy: the desktop portal,
// here the real xdg-desktop-portal with its wlroots back end on a private
// session bus, chosen explicitly since sway also offers screen copy.
TEST_F(WaylandTest, PortalGivesTheSnapshotWhenChosen)
{
    const Rgb background{0x33, 0x66, 0x99};
    WaylandSession session(testsupport::Compositor::Sway, outputWidth, outputHeight, "336699");
    session.startPortal();
    writeShow(session, invertingShader);
    auto player = startPlayer(session, "portal");
    ASSERT_TRUE(testsupport::eventually(
        [&] {
            const testsupport::Screenshot shot = outputShot(session);
            return !shot.pixels.empty() && shot.at(5, 5) == inverted(background) &&
                   shot.at(300, 220) == inverted(background);
        },
        30s))
        << player->err();
    EXPECT_EQ(player->err().find("Istantanea del desktop non riuscita"), std::string::npos) << player->err();
    pressEscape(session);
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0) << player->err();
}

TEST_F(WaylandTest, CloseRequestEnds)
{
    WaylandSession session(testsupport::Compositor::Sway, outputWidth, outputHeight, "336699");
    writeShow(session, invertingShader);
    auto player = startPlayer(session);
    ASSERT_TRUE(player->waitForOutput("Shader caricate: 1\n", 20s)) << player->err();
    // What sway sends when the user closes the focused window.
    ASSERT_TRUE(testsupport::eventually(
        [&] { return session.run({"swaymsg", "[title=\"" + std::string(title) + "\"]", "kill"}).exitStatus == 0; }, 10s));
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0) << player->err();
}

TEST_F(WaylandTest, WithoutAWayToReadTheScreenOneLineAndTheShowPlaysOverBlack)
{
    WaylandSession session(testsupport::Compositor::Weston, outputWidth, outputHeight, "336699");
    writeShow(session, invertingShader);
    auto player = startPlayer(session);
    ASSERT_TRUE(player->waitForOutput("Shader caricate: 1\n", 30s)) << player->err();
    ASSERT_TRUE(testsupport::eventually([&] { return !player->running() || player->err().find("sfondo nero") != std::string::npos; }, 10s));
    EXPECT_TRUE(player->running()) << "the show plays on:\n" << player->err();
    // Headless weston has no keyboard: end it with a close request through XWayland.
    ASSERT_EQ(session.run({CLOSE_WINDOW, title}).exitStatus, 0);
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0) << player->err();
    // Both paths named: no screen copy, and no portal (this session has no session bus).
    const std::string start = "Istantanea del desktop non riuscita (il compositore non offre la copia dello schermo "
                              "(wlr-screencopy); nessun bus di sessione per il portale";
    const std::string err = player->err();
    const std::size_t at = err.find(start);
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_NE(err.find("): la sequenza suona su uno sfondo nero.\n", at), std::string::npos) << err;
    EXPECT_EQ(err.find(start, at + 1), std::string::npos) << "said once";
}

} // namespace
