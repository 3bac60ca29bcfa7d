#pragma once

// What a music file holds, and whether the player can open it.

#include <string>

struct MusicFileInfo
{
    bool opens = false;   // the player's own reader opens it
    std::string codec;    // "Vorbis", "Opus", "FLAC", "MP3", "WAV", ...; "unknown" when none is recognised
    std::string container; // "Ogg" or empty
    double seconds = 0;   // its length, when it opens
};

// The codec by the file's first bytes; "unknown" for none we know.
// `container` is set to "Ogg" for an Ogg stream.
std::string sniffAudioCodec(const std::string& firstBytes, std::string& container);

// Opens the file as the player does (a regular file, read by SFML's sound
// file reader) and says what it is.
MusicFileInfo inspectMusicFile(const std::string& path);
