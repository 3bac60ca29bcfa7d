#pragma once

// A video file with the show's music, written through FFmpeg's libraries:
//   Matroska: FFV1 (lossless RGB), the music's audio packets copied unchanged;
//   MP4:      H.264 (yuv420p, BT.709, limited range), AAC, index at the front.

#include <cstdint>
#include <memory>
#include <string>

enum class VideoKind
{
    matroska,
    mp4,
};

struct VideoSettings
{
    VideoKind kind;
    std::string path; // written as it is: the caller renames it into place
    int width;
    int height;
    double fps;
    std::string musicPath;
    double musicFromSeconds; // the audio starts here in the music
    double musicSeconds;     // and lasts this long, at most
};

struct VideoFileState;

class VideoFile
{
public:
    VideoFile();
    ~VideoFile();
    VideoFile(const VideoFile&) = delete;
    VideoFile& operator=(const VideoFile&) = delete;

    // False with `problem` set when the file, an encoder or the music cannot be opened.
    bool open(const VideoSettings& settings, std::string& problem);
    // One frame of width x height RGBA pixels, rows `stride` bytes apart
    // (negative for rows stored bottom-up, `pixels` then pointing at the top row).
    bool addFrame(const std::uint8_t* pixels, int stride, std::string& problem);
    // Flushes the encoders, adds the rest of the audio and closes the file.
    bool finish(std::string& problem);

private:
    std::unique_ptr<VideoFileState> m_state;
};
