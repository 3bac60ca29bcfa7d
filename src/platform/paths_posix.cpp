// File names on Linux: the bytes are the name, whatever their encoding.
// Apart from the X11 layer so that the sequence reader needs nothing of X.

#include "platform/platform.hpp"

namespace platform
{

std::filesystem::path pathFromSequenceText(const std::string& text)
{
    return std::filesystem::path(text);
}

} // namespace platform
