#pragma once

// Every line the program writes to the console, in one place. Users, scripts
// and tests read these exact texts: change them only on purpose. A text that
// ends in a space is followed by a value on the same line.

#include <string>

namespace messages
{

// Start-up and playback.
inline constexpr const char* noShaderLoaded = "Nessuna shader caricata!";
inline constexpr const char* musicFailed = "Errore nel caricamento della musica!";
inline constexpr const char* shaderChanged = "Shader cambiata -> indice ";
inline constexpr const char* noSoundDevice =
    "Nessun dispositivo audio: la musica non suona e la sequenza resta ferma.";

// The sequence loader.
inline constexpr const char* cannotOpenFile = "Errore apertura file: ";
inline constexpr const char* shaderFailed = "Errore nel caricamento dello shader: ";
inline constexpr const char* shadersLoaded = "Shader caricate: ";

// A shader that declares one of our uniforms with another type than the one
// the program sets: said once, at load time.
inline std::string uniformTypeMismatch(const std::string& shaderPath, const std::string& uniform,
                                       const std::string& declaredType, const std::string& setType)
{
    return shaderPath + ": la uniform " + uniform + " è dichiarata " + declaredType + ", il programma la imposta " +
           setType + ": resta senza valore.";
}

// The snapshot could not be taken; the show plays over black.
inline std::string snapshotFailed(const std::string& reason)
{
    return "Istantanea del desktop non riuscita (" + reason + "): la sequenza suona su uno sfondo nero.";
}

// A frame that took longer than the frame watch allows; the program ends.
inline std::string frameTooLong(const std::string& shaderPath, int seconds)
{
    return "La shader " + shaderPath + " ha impiegato più di " + std::to_string(seconds) +
           " secondi per disegnare un fotogramma: il programma termina.";
}

// Why a snapshot cannot become a texture.
inline std::string snapshotTooLarge(int width, int height, unsigned limit)
{
    return "schermo di " + std::to_string(width) + "x" + std::to_string(height) +
           " pixel, oltre il lato massimo delle texture di questo driver, " + std::to_string(limit);
}

// The X display.
inline constexpr const char* noDisplaySet = "Nessun display X disponibile: la variabile DISPLAY non è impostata.";
inline std::string cannotConnect(const std::string& display)
{
    return "Impossibile connettersi al display X " + display + ".";
}
inline std::string noGlx(const std::string& display)
{
    return "Il display X " + display + " non offre OpenGL (manca l'estensione GLX): la finestra non si può aprire.";
}
inline std::string noTrueColourGl(const std::string& display, int depth)
{
    return "Il display X " + display + " ha colori a " + std::to_string(depth) +
           " bit, senza un visual OpenGL a colori veri (24 bit): la finestra non si può aprire.";
}
// Written from an Xlib callback with write(2), so a plain array with its line end.
inline constexpr char displayLost[] = "Connessione al display X persa: il programma termina.\n";

} // namespace messages
