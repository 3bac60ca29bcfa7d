#pragma once

#include <SFML/Graphics/Shader.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

// One step of the show: a compiled fragment shader and how many seconds of
// music it stays active. Zero and negative durations are allowed.
struct ShaderItem
{
    std::shared_ptr<sf::Shader> shader;
    float durationSeconds;
};

// What one line of the sequence file asks for, before anything is compiled.
struct SequenceLine
{
    std::string shaderPath;
    float durationSeconds;
};

// Reads "path duration [anything]" the way the sequence file is defined:
// empty lines and lines starting with '#' are not steps, fields are split on
// white space, and the duration is a float read in the classic locale up to
// the first character that cannot continue it. Returns nothing for a line
// that gives no step.
std::optional<SequenceLine> parseSequenceLine(const std::string& line);

// Compiles every step of the sequence file, in file order, reporting the
// unreadable file and each shader that fails on standard error and the
// number of steps on standard output.
std::vector<ShaderItem> loadShaderSequence(const std::string& filename);
