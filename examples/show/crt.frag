// An old tube screen: curved glass, scanlines, a rolling bar and a pulse of brightness on the beat.
uniform sampler2D texture;
uniform float time;
uniform vec2 resolution;

void main()
{
    vec2 uv = gl_TexCoord[0].xy * 2.0 - 1.0;
    uv *= 1.0 + 0.08 * dot(uv.yx, uv.yx);
    uv = uv * 0.5 + 0.5;
    if (uv.x < 0.0 || uv.x > 1.0 || uv.y < 0.0 || uv.y > 1.0)
    {
        gl_FragColor = vec4(0.0, 0.0, 0.0, 1.0);
        return;
    }
    vec3 colour = texture2D(texture, uv).bgr;
    float scanline = 0.75 + 0.25 * sin(uv.y * resolution.y * 3.14159265);
    float bar = 0.1 * smoothstep(0.05, 0.0, abs(fract(uv.y - time * 0.25) - 0.5));
    float pulse = 1.0 + 0.25 * (1.0 - fract(time * 2.0));
    vec2 edge = uv * (1.0 - uv);
    float vignette = pow(edge.x * edge.y * 16.0, 0.25);
    gl_FragColor = vec4((colour * scanline + bar) * pulse * vignette * vec3(0.9, 1.05, 0.95), 1.0);
}
