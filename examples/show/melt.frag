// The desktop melts: columns slide down at their own pace and drip back on the beat.
uniform sampler2D texture;
uniform float time;
uniform vec2 resolution;

float hash(float x)
{
    return fract(sin(x * 91.3458) * 47453.5453);
}

void main()
{
    vec2 uv = gl_TexCoord[0].xy;
    float column = floor(uv.x * resolution.x / 6.0);
    float speed = 0.3 + 0.7 * hash(column);
    float beat = fract(time * 0.5);
    float drop = speed * beat * beat * 0.6;
    float y = uv.y - drop;
    vec3 colour = y < 0.0 ? vec3(0.0) : texture2D(texture, vec2(uv.x, y)).bgr;
    // Warm the molten part a little.
    colour = mix(colour, colour * vec3(1.2, 0.85, 0.7), clamp(drop * 3.0, 0.0, 1.0));
    gl_FragColor = vec4(colour, 1.0);
}
