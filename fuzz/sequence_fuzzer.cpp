// libFuzzer target for reading sequence files: the input is a whole file,
// split into lines by the loader's own line reader, and every line parsed.
// Besides memory errors and undefined behaviour (the fuzz build runs with
// ASan and UBSan), it checks what a step must always be.

#include "sequence/shader_sequence.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
    std::string line;
    while (readSequenceLine(file, line))
    {
        const std::optional<StepLine> step = parseSequenceLine(line);
        if (!step)
            continue;
        const bool pathIsOneField = !step->shaderPath.empty() &&
                                    step->shaderPath.find_first_of(" \t\n\v\f\r") == std::string::npos;
        const bool notAComment = line[0] != '#';
        if (!pathIsOneField || !notAComment || !std::isfinite(step->durationSeconds) ||
            line.find(step->shaderPath) == std::string::npos)
            std::abort();
    }
    return 0;
}
