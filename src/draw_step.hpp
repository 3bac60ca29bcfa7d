#pragma once

#include "sequence/shader_sequence.hpp"

#include <SFML/Graphics/RenderTarget.hpp>
#include <SFML/Graphics/Sprite.hpp>

// Draws one frame of the show as the player does: `time` then `resolution`
// on the step's shader (each only where the shader declares it with the type
// set), the target cleared to opaque black, and the snapshot drawn through
// the shader. The player, the renderer and the preview share it.
inline void drawStep(sf::RenderTarget& target, const sf::Sprite& background, const ShaderItem& step,
                     float shaderTime, const sf::Vector2f& resolution)
{
    sf::Shader& shader = *step.shader;
    if (step.setsTime)
        shader.setUniform("time", shaderTime);
    if (step.setsResolution)
        shader.setUniform("resolution", resolution);
    target.clear(sf::Color(0, 0, 0, 255));
    target.draw(background, sf::RenderStates(&shader));
}
