// Quorvel Desktop Overlay: plays the shaders of "shader_sequence.txt" over a
// snapshot of the desktop, clocked by the playing position of "music.ogg".

#include "audio_device.hpp"
#include "capture/capture.hpp"
#include "draw_step.hpp"
#include "frame_watch.hpp"
#include "messages.hpp"
#include "music_clock.hpp"
#include "platform/platform.hpp"
#include "regular_file.hpp"
#include "sequence/shader_sequence.hpp"
#include "switch_rule.hpp"

#include <SFML/Audio/Music.hpp>
#include <SFML/Graphics.hpp>

#include <cstddef>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

int main()
{
    platform::prepareProcess();

    // Before any connection: a display lost at any moment, even during the
    // first check, ends with our line.
    platform::endOnDisplayLoss();
    // SFML aborts or crashes when it cannot open an OpenGL window on the
    // display; say why and end instead.
    const std::string displayProblem = platform::displayProblem();
    if (!displayProblem.empty())
    {
        std::cerr << displayProblem << std::endl;
        return -1;
    }

    const platform::ScreenSize screenSize = platform::primaryScreenSize();
    const int screenWidth = screenSize.width;
    const int screenHeight = screenSize.height;

    const char* const title = "Quorvel Desktop Overlay";
    const sf::ContextSettings settings(0, 0, 0, 1, 1, 0, false);
    sf::RenderWindow window;
    std::optional<platform::ScreenPixels> snapshotAtMap;
    {
        platform::WindowCreationGuard guard(title);
        window.create(sf::VideoMode(static_cast<unsigned>(screenWidth), static_cast<unsigned>(screenHeight), 32),
                      title, sf::Style::None, settings);
        snapshotAtMap = guard.snapshotAtMap();
    }
    const sf::WindowHandle hwnd = window.getSystemHandle();
    platform::makeWindowTopmost(hwnd);

    // Taken now, or already when the window was mapped: the overlay exists
    // but has not drawn, so the desktop is still what shows.
    sf::Texture desktopTexture = snapshotAtMap ? textureFromSnapshot(*snapshotAtMap) : captureDesktopBehind(hwnd);
    snapshotAtMap.reset();
    platform::placeOverPrimaryMonitor(hwnd);
    sf::Sprite background(desktopTexture);
    // A snapshot that could not become a texture of the screen's size is one black texel, stretched.
    const sf::Vector2u textureSize = desktopTexture.getSize();
    if (textureSize.x > 0 && textureSize.y > 0)
        background.setScale(static_cast<float>(screenWidth) / static_cast<float>(textureSize.x),
                            static_cast<float>(screenHeight) / static_cast<float>(textureSize.y));

    std::vector<ShaderItem> shaderSequence = loadShaderSequence("shader_sequence.txt");
    if (shaderSequence.empty())
    {
        std::cerr << messages::noShaderLoaded << std::endl;
        return -1;
    }

    sf::Music music;
    if (!isRegularFile("music.ogg") || !music.openFromFile("music.ogg"))
    {
        std::cerr << messages::musicFailed << std::endl;
        return -1;
    }
    // Without a sound device nothing can play: SFML's streaming thread would
    // spin retrying, writing failed OpenAL calls by the million, and every read
    // of the position would add five lines more. Say so once, leave the stream
    // stopped and use the 0 the position would read.
    const bool musicCanPlay = audioDeviceIsOpen();
    if (musicCanPlay)
        music.play();
    else
        std::cerr << messages::noSoundDevice << std::endl;

    std::size_t currentShaderIndex = 0;
    float shaderStartTime = 0.0f;
    float musicTime = 0.0f;
    MusicPosition musicPosition;
    const double mixingPeriodSeconds = audioMixingPeriodSeconds();
    const sf::Vector2f resolution(static_cast<float>(screenWidth), static_cast<float>(screenHeight));
    const auto readPosition = [&music] { return music.getPlayingOffset().asSeconds(); };
    const auto musicPlays = [&music] { return music.getStatus() == sf::Music::Playing; };

    // Escape and the time a frame takes are watched from another thread too:
    // a shader that runs for ever must not lock the user out.
    FrameWatch frameWatch(hwnd, shaderSequence);

    // The frame loop: unthrottled, clocked only by the music's playing position.
    while (window.isOpen())
    {
        sf::Event event;
        while (window.pollEvent(event))
        {
            const bool escape = event.type == sf::Event::KeyPressed && event.key.code == sf::Keyboard::Escape;
            if (event.type == sf::Event::Closed || escape)
                window.close();
        }

        if (musicCanPlay)
            musicTime = musicPosition.update(readPosition, musicPlays, mixingPeriodSeconds);
        const FrameStep frame = stepFrame(musicTime, shaderSequence[currentShaderIndex].durationSeconds,
                                          shaderSequence.size(), currentShaderIndex, shaderStartTime);
        if (frame.switched)
            std::cout << messages::shaderChanged << currentShaderIndex << std::endl;

        frameWatch.frameStarts(frame.drawnIndex);
        drawStep(window, background, shaderSequence[frame.drawnIndex], frame.shaderTime, resolution);
        window.display();
    }

    return 0;
}
