#pragma once

#include <filesystem>
#include <string>
#include <system_error>

// Whether path names a regular file (after following links). The libraries
// that read our files misbehave on anything else: a directory makes SFML's
// shader reader allocate without bound and its music reader spin forever,
// and opening a named pipe blocks until someone writes to it. A path with a
// NUL byte would be cut short by the C APIs and name a different file.
inline bool isRegularFile(const std::filesystem::path& path)
{
    if (path.native().find(std::filesystem::path::value_type(0)) != std::filesystem::path::string_type::npos)
        return false;
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

inline bool isRegularFile(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return false;
    return isRegularFile(std::filesystem::path(path));
}

inline bool isRegularFile(const char* path)
{
    return isRegularFile(std::string(path));
}
