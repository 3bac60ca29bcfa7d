// Horizontal bands tear sideways, blocks flicker and the colours clip, changing pattern on every beat.
uniform sampler2D texture;
uniform float time;
uniform vec2 resolution;

float hash(vec2 p)
{
    return fract(sin(dot(p, vec2(127.1, 311.7))) * 43758.5453);
}

void main()
{
    vec2 uv = gl_TexCoord[0].xy;
    float beatIndex = floor(time * 2.0);
    float beat = fract(time * 2.0);
    float band = floor(uv.y * 24.0);
    float tear = hash(vec2(band, beatIndex));
    float shift = step(0.7, tear) * (tear - 0.7) * 0.5 * (1.0 - beat);
    vec2 torn = vec2(fract(uv.x + shift), uv.y);

    vec2 block = floor(uv * vec2(16.0, 9.0));
    float flicker = step(0.93, hash(block + beatIndex * 7.0));
    vec3 colour = texture2D(texture, torn).bgr;
    colour = mix(colour, vec3(1.0) - colour.gbr, flicker * (1.0 - beat));
    colour += 0.06 * hash(uv * resolution + time);
    gl_FragColor = vec4(colour, 1.0);
}
