// Rings of water spread from the centre on every beat and bend the desktop.
uniform sampler2D texture;
uniform float time;
uniform vec2 resolution;

void main()
{
    vec2 uv = gl_TexCoord[0].xy;
    vec2 toCentre = (uv - 0.5) * vec2(resolution.x / resolution.y, 1.0);
    float dist = length(toCentre);
    float beat = fract(time * 2.0);
    float ring = sin(dist * 60.0 - time * 12.0) * exp(-dist * 3.0);
    float strength = 0.012 + 0.02 * (1.0 - beat);
    vec2 offset = normalize(toCentre + 1e-5) * ring * strength;
    vec3 colour = texture2D(texture, uv + offset).bgr;
    colour += vec3(0.08, 0.12, 0.18) * ring * (1.0 - beat);
    gl_FragColor = vec4(colour, 1.0);
}
