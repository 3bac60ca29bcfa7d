#pragma once

// The reference GLSL compiler (Khronos' glslang, glslangValidator on the
// PATH): a verdict on a fragment shader as GLSL 1.10 where the shader names
// no version, without any OpenGL driver.

#include "show/compiler_log.hpp"

#include <string>
#include <vector>

struct ReferenceVerdict
{
    bool ok = false;
    std::vector<CompilerMessage> messages;
};

// "glslang" with its version, or empty when it cannot be found.
std::string referenceCompilerName();

ReferenceVerdict compileWithReference(const std::string& shaderPath);
