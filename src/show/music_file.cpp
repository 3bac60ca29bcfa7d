#include "show/music_file.hpp"

#include "regular_file.hpp"

#include <SFML/Audio/InputSoundFile.hpp>
#include <SFML/System/Err.hpp>

#include <fstream>
#include <sstream>

namespace
{

bool startsWith(const std::string& text, std::size_t at, const std::string& prefix)
{
    return text.size() >= at + prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

} // namespace

std::string sniffAudioCodec(const std::string& bytes, std::string& container)
{
    container.clear();
    if (startsWith(bytes, 0, "OggS") && bytes.size() > 27)
    {
        container = "Ogg";
        // The first page's first packet names the codec.
        const std::size_t segments = static_cast<unsigned char>(bytes[26]);
        const std::size_t packet = 27 + segments;
        if (startsWith(bytes, packet, "\x01vorbis"))
            return "Vorbis";
        if (startsWith(bytes, packet, "OpusHead"))
            return "Opus";
        if (startsWith(bytes, packet, "\x7f" "FLAC"))
            return "FLAC";
        if (startsWith(bytes, packet, "Speex   "))
            return "Speex";
        if (startsWith(bytes, packet, "\x80theora"))
            return "Theora";
        return "unknown";
    }
    if (startsWith(bytes, 0, "fLaC"))
        return "FLAC";
    if (startsWith(bytes, 0, "RIFF") && startsWith(bytes, 8, "WAVE"))
        return "WAV";
    if (startsWith(bytes, 0, "ID3"))
        return "MP3";
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
        (static_cast<unsigned char>(bytes[1]) & 0xe6) == 0xe2)
        return "MP3";
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
        (static_cast<unsigned char>(bytes[1]) & 0xf6) == 0xf0)
        return "AAC";
    if (startsWith(bytes, 4, "ftyp"))
        return "MP4 audio (AAC or ALAC)";
    if (startsWith(bytes, 0, "FORM") && (startsWith(bytes, 8, "AIFF") || startsWith(bytes, 8, "AIFC")))
        return "AIFF";
    if (startsWith(bytes, 0, "\x1a\x45\xdf\xa3"))
        return "Matroska/WebM audio";
    return "unknown";
}

MusicFileInfo inspectMusicFile(const std::string& path)
{
    MusicFileInfo info;
    if (!isRegularFile(path))
        return info;
    {
        std::ifstream file(path, std::ios::binary);
        std::string head(4096, '\0');
        file.read(&head[0], static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<std::size_t>(file.gcount()));
        info.codec = sniffAudioCodec(head, info.container);
    }
    // SFML writes its own reason in English; the caller says it better.
    std::ostringstream quiet;
    std::streambuf* const previous = sf::err().rdbuf(quiet.rdbuf());
    sf::InputSoundFile file;
    info.opens = file.openFromFile(path);
    sf::err().rdbuf(previous);
    if (info.opens)
        info.seconds = static_cast<double>(file.getSampleCount()) /
                       (static_cast<double>(file.getSampleRate()) * file.getChannelCount());
    return info;
}
