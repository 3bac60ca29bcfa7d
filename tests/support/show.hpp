#pragma once

// Building blocks for a show folder: shaders, a sequence file, a music track.

#include "support/process.hpp"

#include <string>

namespace testsupport
{

// A fragment shader that paints every pixel one colour (components 0..1).
std::string solidShader(float r, float g, float b);
// A fragment shader that shows the snapshot texture as it is, alpha forced to 1.
std::string passThroughShader();

// A fragment shader whose one frame takes minutes. A GPU driver may loop
// for ever on `while (x >= 0.0)`; llvmpipe stops a shader's loops after
// 65535 turns, so each turn here is made long instead.
std::string runawayShader();

// An Ogg Vorbis sine tone made with sox.
void writeTone(const std::string& path, double seconds, int frequencyHz = 440);

// What sox measures in a recording of OpenAL's wave backend, with the
// silence the device plays before and after the track left out.
struct Recording
{
    double frequencyHz = -1;
    double rmsAmplitude = -1;
    double lengthSeconds = -1;
    std::string report; // sox's own words, for failure messages
};
Recording measureRecording(const std::string& wavPath);

// The player as started by the tests: no sound card here, so OpenAL's null
// backend unless the caller names another.
RunResult runPlayer(const TempDir& folder, const std::vector<std::string>& args = {},
                    const std::vector<std::string>& extraEnv = {});

// The player's command line with standard error sent into standard output,
// so that the order of lines across the two streams can be seen.
std::vector<std::string> playerWithMergedStreams(const std::vector<std::string>& args = {});

// Our own lines out of a stream that library chatter may share.
std::vector<std::string> ourLines(const std::string& text);

} // namespace testsupport
