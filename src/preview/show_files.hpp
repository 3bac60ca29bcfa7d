#pragma once

// What the preview watches on disk: the sequence file, the shaders it names
// and the music. A change counts once the file has stayed the same for a
// settling time, so an editor's burst of writes (or a file still being
// written) is read once, when it is whole.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// What identifies a version of a file: its modification time and size, or
// that it is missing.
struct FileStamp
{
    bool exists = false;
    std::int64_t modified = 0; // nanoseconds
    std::uint64_t size = 0;
    // For small files (shaders, the sequence file), a hash of the contents:
    // some file systems (and Wine) keep write times to the second, and a
    // save of the same size within that second would otherwise go unseen.
    std::uint64_t contents = 0;
    bool operator==(const FileStamp& other) const
    {
        return exists == other.exists && modified == other.modified && size == other.size &&
               contents == other.contents;
    }
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

FileStamp stampOf(const std::filesystem::path& path);

class SettledChanges
{
public:
    explicit SettledChanges(std::chrono::milliseconds settling) : m_settling(settling) {}

    // The files to watch from now on; a file new to the list counts as seen as it is.
    void watch(const std::vector<std::filesystem::path>& paths);

    // Looks at every watched file; returns those whose change has settled
    // since the last call that returned them.
    std::vector<std::filesystem::path> poll(std::chrono::steady_clock::time_point now);

private:
    struct Watched
    {
        FileStamp accepted; // the version last handed out (or first seen)
        FileStamp latest;   // the version seen last
        std::chrono::steady_clock::time_point latestSince{};
    };
    std::chrono::milliseconds m_settling;
    std::map<std::filesystem::path, Watched> m_files;
};
