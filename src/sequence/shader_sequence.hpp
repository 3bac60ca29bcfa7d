#pragma once

#include <SFML/Graphics/Shader.hpp>

#include <cstddef>
#include <iostream>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// One step of the show: a compiled fragment shader and how many seconds of
// music it stays active. Zero and negative durations are allowed. The two
// flags are false when the shader declares `time` or `resolution` with
// another type than the float and vec2 the frame loop sets: setting them
// then fails in OpenGL on every frame, so the loop leaves them alone.
struct ShaderItem
{
    std::shared_ptr<sf::Shader> shader;
    float durationSeconds;
    bool setsTime = true;
    bool setsResolution = true;
};

// What one line of the sequence file asks for, before anything is compiled.
struct StepLine
{
    std::string shaderPath;
    float durationSeconds;
};

// No step line comes near this long; a longer line is not read into memory
// but skipped as malformed. No fragment shader comes near this size either.
constexpr std::size_t maxSequenceLineBytes = 64 * 1024;
constexpr std::size_t maxShaderFileBytes = 16 * 1024 * 1024;

// Reads the next line up to a line feed (which is dropped), like
// std::getline, holding at most maxSequenceLineBytes: a longer line comes
// back empty. False at the end of the input with nothing read.
bool readSequenceLine(std::istream& in, std::string& line);

// Reads "path duration [anything]": empty lines and lines starting with '#'
// are not steps, fields are split on white space, and the duration is a float
// read in the classic locale up to the first character that cannot continue
// it. Returns nothing for a line that gives no step.
std::optional<StepLine> parseSequenceLine(const std::string& line);

// Compiles every step of the sequence file, in file order. Reports the
// unreadable file, each shader that fails and each uniform of the wrong type
// on `errors`, and the number of steps on `progress`.
std::vector<ShaderItem> loadShaderSequence(const std::string& filename, std::ostream& progress = std::cout,
                                           std::ostream& errors = std::cerr);
