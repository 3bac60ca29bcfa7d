#pragma once

// GLSL compilers' logs read as messages at source lines. Each vendor words
// its log its own way; these are the forms in use:
//   Mesa              0:12(5): error: `foo' undeclared
//   NVIDIA            0(12) : error C1008: undefined variable "foo"
//   AMD, Intel, glslang, Apple
//                     ERROR: 0:12: 'foo' : undeclared identifier
// A line in none of these forms is kept whole, at no source line.

#include <string>
#include <vector>

struct CompilerMessage
{
    int line = 0;         // 1-based source line; 0 when the log names none
    std::string severity; // "error" or "warning"
    std::string text;
};

std::vector<CompilerMessage> parseCompilerLog(const std::string& log);
