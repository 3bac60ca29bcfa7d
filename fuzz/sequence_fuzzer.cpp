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
    bool tooLong = false;
    while (readSequenceLine(file, line, tooLong))
    {
        if (tooLong && !line.empty())
            std::abort();
        // The checker's account of a line must agree with the loader's.
        const SequenceLine read = readStepLine(line);
        const std::optional<StepLine> step = parseSequenceLine(line);
        if ((read.kind == LineKind::step) != step.has_value() || read.step.has_value() != step.has_value() ||
            read.durationChars > read.durationField.size())
            std::abort();
        if (!step)
            continue;
        if (read.durationChars == 0 || read.step->shaderPath != step->shaderPath)
            std::abort();
        const bool pathIsOneField = !step->shaderPath.empty() &&
                                    step->shaderPath.find_first_of(" \t\n\v\f\r") == std::string::npos;
        const bool notAComment = line[0] != '#';
        if (!pathIsOneField || !notAComment || !std::isfinite(step->durationSeconds) ||
            line.find(step->shaderPath) == std::string::npos)
            std::abort();
    }
    return 0;
}
