#include "preview/show_files.hpp"

#include "platform/platform.hpp"

#include <system_error>

FileStamp stampOf(const std::filesystem::path& path)
{
    FileStamp stamp;
    stamp.exists = platform::fileVersion(path, stamp.modified, stamp.size);
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
