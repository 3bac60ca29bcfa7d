#include "preview/show_files.hpp"

#include "platform/platform.hpp"

#include <fstream>
#include <system_error>

namespace
{

constexpr std::uint64_t hashedUpToBytes = 1024 * 1024;

// FNV-1a over the file's bytes.
std::uint64_t contentsHash(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::uint64_t hash = 1469598103934665603ULL;
    char buffer[16384];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0)
    {
        for (std::streamsize i = 0; i < file.gcount(); ++i)
            hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ULL;
        if (!file)
            break;
    }
    return hash;
}

} // namespace

FileStamp stampOf(const std::filesystem::path& path)
{
    FileStamp stamp;
    stamp.exists = platform::fileVersion(path, stamp.modified, stamp.size);
    if (stamp.exists && stamp.size <= hashedUpToBytes)
        stamp.contents = contentsHash(path);
    return stamp;
}

void SettledChanges::watch(const std::vector<std::filesystem::path>& paths)
{
    std::map<std::filesystem::path, Watched> kept;
    for (const std::filesystem::path& path : paths)
    {
        const auto known = m_files.find(path);
        if (known != m_files.end())
            kept.emplace(path, known->second);
        else
        {
            const FileStamp now = stampOf(path);
            kept.emplace(path, Watched{now, now, std::chrono::steady_clock::now()});
        }
    }
    m_files = std::move(kept);
}

std::vector<std::filesystem::path> SettledChanges::poll(std::chrono::steady_clock::time_point now)
{
    std::vector<std::filesystem::path> settled;
    for (auto& [path, watched] : m_files)
    {
        const FileStamp stamp = stampOf(path);
        if (stamp != watched.latest)
        {
            watched.latest = stamp;
            watched.latestSince = now;
            continue;
        }
        if (stamp != watched.accepted && now - watched.latestSince >= m_settling)
        {
            watched.accepted = stamp;
            settled.push_back(path);
        }
    }
    return settled;
}
