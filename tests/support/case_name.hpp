#pragma once

#include <cctype>
#include <string>

namespace testsupport
{

// A readable description turned into a valid GoogleTest parameter name.
inline std::string caseName(const char* description)
{
    std::string name;
    for (const char* c = description; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

} // namespace testsupport
