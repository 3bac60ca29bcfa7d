// File names on Linux: the bytes are the name, whatever their encoding.
// Apart from the X11 layer so that the sequence reader needs nothing of X.

#include "platform/platform.hpp"

#include <sys/stat.h>

namespace platform
{

std::filesystem::path pathFromSequenceText(const std::string& text)
{
    return std::filesystem::path(text);
}

bool fileVersion(const std::filesystem::path& path, std::int64_t& modifiedNanoseconds, std::uint64_t& size)
{
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0)
        return false;
    modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

} // namespace platform
