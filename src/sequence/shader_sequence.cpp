#include "sequence/shader_sequence.hpp"

#include "messages.hpp"
#include "platform/platform.hpp"
#include "regular_file.hpp"

#include <SFML/OpenGL.hpp>
#include <SFML/Window/Context.hpp>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <locale>
#include <sstream>
#include <system_error>

namespace
{

// OpenGL 2.0 names that the Windows headers lack.
constexpr GLenum glActiveUniforms = 0x8B86;
constexpr GLenum glFloat = 0x1406;
constexpr GLenum glFloatVec2 = 0x8B50;

std::string glslTypeName(GLenum type)
{
    switch (type)
    {
    case 0x1406: return "float";
    case 0x8B50: return "vec2";
    case 0x8B51: return "vec3";
    case 0x8B52: return "vec4";
    case 0x1404: return "int";
    case 0x8B53: return "ivec2";
    case 0x8B54: return "ivec3";
    case 0x8B55: return "ivec4";
    case 0x8B56: return "bool";
    case 0x8B5A: return "mat2";
    case 0x8B5B: return "mat3";
    case 0x8B5C: return "mat4";
    case 0x8B5E: return "sampler2D";
    default: return "di un altro tipo";
    }
}

// Asks OpenGL how the shader declares the two uniforms the frame loop sets.
// A uniform the shader does not use is not active and is not checked.
std::vector<UniformMismatch> checkUniformTypes(ShaderItem& item)
{
    std::vector<UniformMismatch> mismatches;
    using GetProgramiv = void(APIENTRY*)(GLuint, GLenum, GLint*);
    using GetActiveUniform = void(APIENTRY*)(GLuint, GLuint, GLsizei, GLsizei*, GLint*, GLenum*, char*);
    // The shader compiled in a context that SFML has let go again; ask in one of our own if none is active.
    std::optional<sf::Context> context;
    if (sf::Context::getActiveContextId() == 0)
        context.emplace();
    const auto getProgramiv = reinterpret_cast<GetProgramiv>(sf::Context::getFunction("glGetProgramiv"));
    const auto getActiveUniform = reinterpret_cast<GetActiveUniform>(sf::Context::getFunction("glGetActiveUniform"));
    if (getProgramiv == nullptr || getActiveUniform == nullptr)
        return mismatches;

    const GLuint program = item.shader->getNativeHandle();
    GLint count = 0;
    getProgramiv(program, glActiveUniforms, &count);
    for (GLint i = 0; i < count; ++i)
    {
        char name[64] = {};
        GLsizei length = 0;
        GLint size = 0;
        GLenum type = 0;
        getActiveUniform(program, static_cast<GLuint>(i), sizeof name, &length, &size, &type, name);
        const std::string uniform(name, static_cast<std::size_t>(length));
        if ((uniform == "time" || uniform == "time[0]") && type != glFloat)
        {
            item.setsTime = false;
            mismatches.push_back({"time", glslTypeName(type), "float"});
        }
        if ((uniform == "resolution" || uniform == "resolution[0]") && type != glFloatVec2)
        {
            item.setsResolution = false;
            mismatches.push_back({"resolution", glslTypeName(type), "vec2"});
        }
    }
    return mismatches;
}

bool startsLikeANumber(const std::string& field)
{
    std::size_t i = 0;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        ++i;
    return i < field.size() && (std::isdigit(static_cast<unsigned char>(field[i])) || field[i] == '.');
}

} // namespace

bool readSequenceLine(std::istream& in, std::string& line)
{
    bool tooLong = false;
    return readSequenceLine(in, line, tooLong);
}

bool readSequenceLine(std::istream& in, std::string& line, bool& tooLong)
{
    line.clear();
    tooLong = false;
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr || !in.good())
        return false;
    bool readAnything = false;
    for (int c = buffer->sbumpc(); c != std::char_traits<char>::eof(); c = buffer->sbumpc())
    {
        readAnything = true;
        if (c == '\n')
            return true;
        if (tooLong)
            continue;
        if (line.size() == maxSequenceLineBytes)
        {
            tooLong = true;
            line.clear();
            line.shrink_to_fit();
            continue;
        }
        line.push_back(static_cast<char>(c));
    }
    in.setstate(std::ios::eofbit);
    return readAnything;
}

SequenceLine readStepLine(const std::string& line)
{
    if (line.empty())
        return {LineKind::blank, std::nullopt, 0, {}};
    if (line[0] == '#')
        return {LineKind::comment, std::nullopt, 0, {}};

    // The classic locale, so that "2.5" means the same on every machine.
    std::istringstream iss(line);
    iss.imbue(std::locale::classic());
    StepLine parsed{{}, 0.0f};
    if (!(iss >> parsed.shaderPath) || iss.eof())
        return {LineKind::noDuration, std::nullopt, 0, {}};

    // The second field as written, for saying what became of it.
    const std::size_t pathEnd = static_cast<std::size_t>(iss.tellg());
    const std::size_t fieldStart = line.find_first_not_of(" \t\n\v\f\r", pathEnd);
    if (fieldStart == std::string::npos)
        return {LineKind::noDuration, std::nullopt, 0, {}};
    const std::size_t fieldEnd = line.find_first_of(" \t\n\v\f\r", fieldStart);
    const std::string field = line.substr(fieldStart, fieldEnd - fieldStart);

    if (!(iss >> parsed.durationSeconds))
    {
        // The stream read a number that does not fit a float.
        const bool overflow = startsLikeANumber(field) && std::fabs(std::strtod(field.c_str(), nullptr)) > std::numeric_limits<float>::max();
        return {overflow ? LineKind::durationOutOfRange : LineKind::unreadableDuration, std::nullopt, 0, field};
    }
    const std::size_t numberEnd = iss.eof() ? line.size() : static_cast<std::size_t>(iss.tellg());
    return {LineKind::step, parsed, numberEnd - fieldStart, field};
}

std::optional<StepLine> parseSequenceLine(const std::string& line)
{
    return readStepLine(line).step;
}

ShaderFileProblem shaderFileProblem(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return ShaderFileProblem::missing;
    const std::filesystem::path file = platform::pathFromSequenceText(path);
    std::error_code error;
    if (isRegularFile(file))
        return std::filesystem::file_size(file, error) <= maxShaderFileBytes && !error ? ShaderFileProblem::none
                                                                                       : ShaderFileProblem::tooBig;
    if (std::filesystem::exists(file, error))
        return ShaderFileProblem::notRegularFile;
    return ShaderFileProblem::missing;
}

std::optional<ShaderItem> loadStep(const StepLine& step, std::ostream& errors, std::vector<UniformMismatch>* mismatches)
{
    // Read here rather than by SFML, whose narrow file names go through the
    // ANSI code page on Windows.
    std::string source;
    bool read = shaderFileProblem(step.shaderPath) == ShaderFileProblem::none;
    if (read)
    {
        std::ifstream file(platform::pathFromSequenceText(step.shaderPath), std::ios::binary);
        std::ostringstream contents;
        contents << file.rdbuf();
        read = file.good() || file.eof();
        source = contents.str();
    }
    auto shader = std::make_shared<sf::Shader>();
    if (!read || !shader->loadFromMemory(source, sf::Shader::Fragment))
    {
        errors << messages::shaderFailed << step.shaderPath << std::endl;
        return std::nullopt;
    }
    ShaderItem item{std::move(shader), step.durationSeconds, true, true, step.shaderPath};
    for (const UniformMismatch& mismatch : checkUniformTypes(item))
    {
        errors << messages::uniformTypeMismatch(step.shaderPath, mismatch.uniform, mismatch.declaredType,
                                                mismatch.setType)
               << std::endl;
        if (mismatches != nullptr)
            mismatches->push_back(mismatch);
    }
    return item;
}

std::vector<ShaderItem> loadShaderSequence(const std::string& filename, std::ostream& progress, std::ostream& errors)
{
    std::vector<ShaderItem> sequence;

    std::ifstream file;
    if (isRegularFile(filename))
        file.open(filename);
    if (!file.is_open())
    {
        errors << messages::cannotOpenFile << filename << std::endl;
        return sequence;
    }

    std::string line;
    while (readSequenceLine(file, line))
    {
        const std::optional<StepLine> step = parseSequenceLine(line);
        if (!step)
            continue;
        std::optional<ShaderItem> item = loadStep(*step, errors);
        if (item)
            sequence.push_back(std::move(*item));
    }

    progress << messages::shadersLoaded << sequence.size() << std::endl;
    return sequence;
}
