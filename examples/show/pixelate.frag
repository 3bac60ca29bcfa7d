// The desktop breaks into blocks that grow on the beat and settle between beats.
uniform sampler2D texture;
uniform float time;
uniform vec2 resolution;

void main()
{
    float beat = fract(time * 2.0);
    float blockPixels = floor(mix(48.0, 4.0, smoothstep(0.0, 0.8, beat)));
    vec2 blocks = resolution / blockPixels;
    vec2 uv = (floor(gl_TexCoord[0].xy * blocks) + 0.5) / blocks;
    vec3 colour = texture2D(texture, uv).bgr;
    // A thin grid between the blocks while they are large.
    vec2 cell = fract(gl_TexCoord[0].xy * blocks);
    float edge = step(0.92, max(cell.x, cell.y)) * (1.0 - beat);
    gl_FragColor = vec4(mix(colour, colour * 0.4, edge), 1.0);
}
