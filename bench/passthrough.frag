// The cheapest shader: the snapshot as it is. Keeps the GPU work small so
// that the per-frame work of the program itself shows in the frame rate.
uniform sampler2D texture;
uniform float time;
uniform vec2 resolution;

void main()
{
    vec3 colour = texture2D(texture, gl_TexCoord[0].xy).bgr;
    gl_FragColor = vec4(colour + 0.0 * (time + resolution.x), 1.0);
}
