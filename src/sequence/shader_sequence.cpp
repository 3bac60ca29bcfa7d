#include "sequence/shader_sequence.hpp"

#include "messages.hpp"
#include "regular_file.hpp"

#include <SFML/OpenGL.hpp>
#include <SFML/Window/Context.hpp>

#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>
#include <system_error>

namespace
{

bool loadable(const std::string& path)
{
    std::error_code error;
    return isRegularFile(path) && std::filesystem::file_size(path, error) <= maxShaderFileBytes && !error;
}

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
void checkUniformTypes(const std::string& path, ShaderItem& item, std::ostream& errors)
{
    using GetProgramiv = void(APIENTRY*)(GLuint, GLenum, GLint*);
    using GetActiveUniform = void(APIENTRY*)(GLuint, GLuint, GLsizei, GLsizei*, GLint*, GLenum*, char*);
    // The shader compiled in a context that SFML has let go again; ask in one of our own if none is active.
    std::optional<sf::Context> context;
    if (sf::Context::getActiveContextId() == 0)
        context.emplace();
    const auto getProgramiv = reinterpret_cast<GetProgramiv>(sf::Context::getFunction("glGetProgramiv"));
    const auto getActiveUniform = reinterpret_cast<GetActiveUniform>(sf::Context::getFunction("glGetActiveUniform"));
    if (getProgramiv == nullptr || getActiveUniform == nullptr)
        return;

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
            errors << messages::uniformTypeMismatch(path, "time", glslTypeName(type), "float") << std::endl;
        }
        if ((uniform == "resolution" || uniform == "resolution[0]") && type != glFloatVec2)
        {
            item.setsResolution = false;
            errors << messages::uniformTypeMismatch(path, "resolution", glslTypeName(type), "vec2") << std::endl;
        }
    }
}

} // namespace

bool readSequenceLine(std::istream& in, std::string& line)
{
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr || !in.good())
        return false;
    bool readAnything = false;
    bool tooLong = false;
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

std::optional<StepLine> parseSequenceLine(const std::string& line)
{
    if (line.empty() || line[0] == '#')
        return std::nullopt;

    // The classic locale, so that "2.5" means the same on every machine.
    std::istringstream iss(line);
    iss.imbue(std::locale::classic());
    StepLine parsed{{}, 0.0f};
    if (!(iss >> parsed.shaderPath >> parsed.durationSeconds))
        return std::nullopt;
    return parsed;
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

        auto shader = std::make_shared<sf::Shader>();
        if (!loadable(step->shaderPath) || !shader->loadFromFile(step->shaderPath, sf::Shader::Fragment))
        {
            errors << messages::shaderFailed << step->shaderPath << std::endl;
            continue;
        }
        ShaderItem item{std::move(shader), step->durationSeconds};
        checkUniformTypes(step->shaderPath, item, errors);
        sequence.push_back(std::move(item));
    }

    progress << messages::shadersLoaded << sequence.size() << std::endl;
    return sequence;
}
