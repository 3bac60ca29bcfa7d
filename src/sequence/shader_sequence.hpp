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
    std::string shaderPath = {}; // as the sequence file names it
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
// back empty, with tooLong set. False at the end of the input with nothing
// read.
bool readSequenceLine(std::istream& in, std::string& line, bool& tooLong);
bool readSequenceLine(std::istream& in, std::string& line);

// Why a line gives no step; `step` for a line that gives one.
enum class LineKind
{
    step,
    blank,              // empty: white space alone gives no path and is read as noDuration
    comment,            // first character '#'
    noDuration,         // one field or none
    unreadableDuration, // the second field does not begin with a number
    durationOutOfRange, // a number beyond the float range
};

struct SequenceLine
{
    LineKind kind;
    std::optional<StepLine> step;
    std::size_t durationChars = 0; // how much of the second field the duration took
    std::string durationField;     // the second field as written
};

// Reads "path duration [anything]": empty lines and lines starting with '#'
// are not steps, fields are split on white space, and the duration is a float
// read in the classic locale up to the first character that cannot continue
// it. Says why a line gives no step.
SequenceLine readStepLine(const std::string& line);

// The same, for the loader: nothing for a line that gives no step.
std::optional<StepLine> parseSequenceLine(const std::string& line);

// Why a shader path cannot be handed to the compiler.
enum class ShaderFileProblem
{
    none,
    missing,
    notRegularFile,
    tooBig,
};
ShaderFileProblem shaderFileProblem(const std::string& path);

// A uniform that the shader declares with another type than the frame loop sets.
struct UniformMismatch
{
    std::string uniform;      // "time" or "resolution"
    std::string declaredType; // as GLSL writes it
    std::string setType;      // "float" or "vec2"
};

// Compiles one step as the player does: the file must be a regular file of
// at most maxShaderFileBytes, compiled as a fragment shader; the uniforms
// `time` and `resolution` are checked. Writes the player's lines for a
// failure and for each mismatch to `errors`; `mismatches`, when given,
// receives them too. The compiler's own log goes where SFML writes
// (sf::err()).
std::optional<ShaderItem> loadStep(const StepLine& step, std::ostream& errors,
                                   std::vector<UniformMismatch>* mismatches = nullptr);

// Compiles every step of the sequence file, in file order. Reports the
// unreadable file, each shader that fails and each uniform of the wrong type
// on `errors`, and the number of steps on `progress`.
std::vector<ShaderItem> loadShaderSequence(const std::string& filename, std::ostream& progress = std::cout,
                                           std::ostream& errors = std::cerr);
