// Folders that real users produce by mistake: whatever they hold, the player
// either ends at start-up with its error lines and status 255, or plays until
// Escape.
// It never crashes, hangs or waits on a file.

#include "support/case_name.hpp"
#include "support/display.hpp"
#include "support/show.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using testsupport::TempDir;
using Lines = std::vector<std::string>;

enum class Outcome
{
    EndsAtStartUp, // status 255 with exactly `lines` as our lines (both streams, in order)
    Plays,         // "Shader caricate: 1", then plays until Escape, status 0
};

struct HostileCase
{
    const char* name;
    std::function<void(const TempDir&)> prepare;
    Outcome outcome;
    Lines lines;
};

// GoogleTest names the case by its description rather than its bytes.
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

const std::string goodShader = testsupport::solidShader(0.2f, 0.4f, 0.6f);

void goodShow(const TempDir& folder)
{
    folder.write("good.frag", goodShader);
    folder.write("shader_sequence.txt", "good.frag 1\n");
    testsupport::writeTone(folder.file("music.ogg"), 4);
}

std::string garbage(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
    {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

const Lines noSequence = {"Errore apertura file: shader_sequence.txt", "Nessuna shader caricata!"};
const Lines badMusic = {"Shader caricate: 1", "Errore nel caricamento della musica!"};

const HostileCase hostileCases[] = {
    // The sequence file.
    {"sequence file is a directory", [](const TempDir& f) { mkdir(f.file("shader_sequence.txt").c_str(), 0755); },
     Outcome::EndsAtStartUp, noSequence},
    {"sequence file is a named pipe", [](const TempDir& f) { mkfifo(f.file("shader_sequence.txt").c_str(), 0644); },
     Outcome::EndsAtStartUp, noSequence},
    {"sequence file of binary garbage without line feeds",
     [](const TempDir& f) {
         std::string bytes = garbage(64 * 1024, 1);
         for (char& c : bytes)
             if (c == '\n')
                 c = 'x';
         f.write("shader_sequence.txt", "#" + bytes);
     },
     Outcome::EndsAtStartUp, {"Shader caricate: 0", "Nessuna shader caricata!"}},
    {"NUL bytes inside lines",
     [](const TempDir& f) {
         goodShow(f);
         f.write("shader_sequence.txt", std::string("good.frag\0.txt 1\ngood.frag 1\0trailing\n", 36));
         f.write("music.ogg", "");
     },
     Outcome::EndsAtStartUp,
     {std::string("Errore nel caricamento dello shader: good.frag\0.txt", 51), "Shader caricate: 1",
      "Errore nel caricamento della musica!"}},
    {"a single 10 MB line before the step",
     [](const TempDir& f) {
         goodShow(f);
         f.write("shader_sequence.txt", "#" + std::string(10 * 1024 * 1024, 'a') + "\ngood.frag 1\n");
     },
     Outcome::Plays, {}},
    {"100000 lines of which one is a step",
     [](const TempDir& f) {
         goodShow(f);
         std::string text;
         for (int i = 0; i < 100000; ++i)
             text += i == 50000 ? "good.frag 1\n" : (i % 3 == 0 ? "# note\n" : i % 3 == 1 ? "good.frag abc\n" : "\n");
         f.write("shader_sequence.txt", text);
     },
     Outcome::Plays, {}},
    {"a path longer than the system allows",
     [](const TempDir& f) {
         goodShow(f);
         f.write("shader_sequence.txt", std::string(5000, 'p') + ".frag 1\ngood.frag 1\n");
     },
     Outcome::Plays, {}},
    {"non-ASCII shader path",
     [](const TempDir& f) {
         goodShow(f);
         f.write("\xc3\xa9toile-\xe6\x98\x9f.frag", goodShader);
         f.write("shader_sequence.txt", "\xc3\xa9toile-\xe6\x98\x9f.frag 1\n");
     },
     Outcome::Plays, {}},

    // The shader files.
    {"shader path is a directory",
     [](const TempDir& f) {
         goodShow(f);
         mkdir(f.file("dir.frag").c_str(), 0755);
         f.write("shader_sequence.txt", "dir.frag 1\n");
     },
     Outcome::EndsAtStartUp,
     {"Errore nel caricamento dello shader: dir.frag", "Shader caricate: 0", "Nessuna shader caricata!"}},
    {"shader path is a named pipe",
     [](const TempDir& f) {
         goodShow(f);
         mkfifo(f.file("pipe.frag").c_str(), 0644);
         f.write("shader_sequence.txt", "pipe.frag 1\n");
     },
     Outcome::EndsAtStartUp,
     {"Errore nel caricamento dello shader: pipe.frag", "Shader caricate: 0", "Nessuna shader caricata!"}},
    {"empty and binary shaders",
     [](const TempDir& f) {
         goodShow(f);
         f.write("empty.frag", "");
         f.write("binary.frag", garbage(4096, 7));
         f.write("shader_sequence.txt", "empty.frag 1\nbinary.frag 1\n");
     },
     Outcome::EndsAtStartUp,
     {"Errore nel caricamento dello shader: empty.frag", "Errore nel caricamento dello shader: binary.frag",
      "Shader caricate: 0", "Nessuna shader caricata!"}},
    {"1 MB of shader source",
     [](const TempDir& f) {
         goodShow(f);
         std::string source;
         while (source.size() < 1024 * 1024)
             source += "// a long comment line that pads the shader source to one megabyte of text\n";
         f.write("good.frag", source + goodShader);
     },
     Outcome::Plays, {}},

    // The music.
    {"music is empty", [](const TempDir& f) { goodShow(f); f.write("music.ogg", ""); }, Outcome::EndsAtStartUp,
     badMusic},
    {"music is garbage", [](const TempDir& f) { goodShow(f); f.write("music.ogg", garbage(100000, 3)); },
     Outcome::EndsAtStartUp, badMusic},
    {"music is a directory",
     [](const TempDir& f) {
         goodShow(f);
         std::remove(f.file("music.ogg").c_str());
         mkdir(f.file("music.ogg").c_str(), 0755);
     },
     Outcome::EndsAtStartUp, badMusic},
    {"music is a named pipe",
     [](const TempDir& f) {
         goodShow(f);
         std::remove(f.file("music.ogg").c_str());
         mkfifo(f.file("music.ogg").c_str(), 0644);
     },
     Outcome::EndsAtStartUp, badMusic},
    {"music is a truncated Ogg",
     [](const TempDir& f) {
         goodShow(f);
         const std::string ogg = testsupport::readFile(f.file("music.ogg"));
         f.write("music.ogg", ogg.substr(0, ogg.size() / 3));
     },
     Outcome::Plays, {}},
    {"music is a WAV named music.ogg",
     [](const TempDir& f) {
         goodShow(f);
         ASSERT_EQ(testsupport::shell("sox -q -n -r 22050 -c 1 -t wav '" + f.file("music.ogg") + "' synth 3 sine 300"), 0);
     },
     Outcome::Plays, {}},
    {"music is a FLAC named music.ogg",
     [](const TempDir& f) {
         goodShow(f);
         ASSERT_EQ(testsupport::shell("sox -q -n -r 22050 -c 1 -t flac '" + f.file("music.ogg") + "' synth 3 sine 300"),
                   0);
     },
     Outcome::Plays, {}},
};

class HostileInputTest : public testing::TestWithParam<HostileCase>
{
protected:
    static void SetUpTestSuite() { display = std::make_unique<testsupport::VirtualDisplay>(160, 120); }
    static void TearDownTestSuite() { display.reset(); }
    static inline std::unique_ptr<testsupport::VirtualDisplay> display;
};

TEST_P(HostileInputTest, EndsWithItsErrorLinesOrPlays)
{
    const HostileCase& c = GetParam();
    TempDir folder;
    c.prepare(folder);
    // Both streams into one file, to see the order of our lines across them.
    testsupport::RunningProgram player(testsupport::playerWithMergedStreams(), folder.path(), {"ALSOFT_DRIVERS=null"});
    if (c.outcome == Outcome::EndsAtStartUp)
    {
        ASSERT_TRUE(player.waitForExit(60s)) << "it must not hang";
        EXPECT_EQ(player.signal(), 0);
        EXPECT_EQ(player.exitStatus(), 255);
        EXPECT_EQ(testsupport::ourLines(player.out()), c.lines);
        return;
    }
    ASSERT_TRUE(player.waitForOutput("Shader caricate: 1\n", 60s)) << player.out();
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(player.running()) << player.out();
    ASSERT_EQ(testsupport::shell("xdotool key Escape"), 0);
    ASSERT_TRUE(player.waitForExit(10s));
    EXPECT_EQ(player.exitStatus(), 0) << player.out();
}

INSTANTIATE_TEST_SUITE_P(Folders, HostileInputTest, testing::ValuesIn(hostileCases),
                         [](const testing::TestParamInfo<HostileCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

// Permissions do not stop root, so this case runs the player as the unprivileged user nobody.
TEST(HostileInput, UnreadableSequenceFile)
{
    testsupport::VirtualDisplay display(160, 120);
    TempDir folder;
    goodShow(folder);
    chmod(folder.path().c_str(), 0755);
    chmod(folder.file("shader_sequence.txt").c_str(), 0);
    // The program and the sanitizer build's files where nobody can read them, from any checkout.
    TempDir reachable;
    chmod(reachable.path().c_str(), 0755);
    std::vector<std::string> argv = {testsupport::reachableCopy(QUORVEL_BINARY, reachable)};
    std::vector<std::string> env = testsupport::sanitizerEnvironmentFor(reachable);
    env.push_back("ALSOFT_DRIVERS=null");
    if (geteuid() == 0)
        argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const testsupport::RunResult result = testsupport::runProgram(argv, folder.path(), std::chrono::seconds(60), env);
    EXPECT_EQ(result.exitStatus, 255) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(testsupport::ourLines(result.err), noSequence);
}

} // namespace
