// Red, green and blue drift apart in a slow circle and snap together on the beat.
uniform sampler2D texture;
uniform float time;
uniform vec2 resolution;

void main()
{
    vec2 uv = gl_TexCoord[0].xy;
    float beat = fract(time * 2.0);
    float amount = (6.0 + 22.0 * (1.0 - beat)) / resolution.x;
    vec2 direction = vec2(cos(time * 1.3), sin(time * 1.7));
    // The texture holds blue in .r and red in .b.
    float red = texture2D(texture, uv + direction * amount).b;
    float green = texture2D(texture, uv).g;
    float blue = texture2D(texture, uv - direction * amount).r;
    gl_FragColor = vec4(red, green, blue, 1.0);
}
