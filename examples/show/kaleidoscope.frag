// Six mirrored wedges of the desktop turn around the centre.
uniform sampler2D texture;
uniform float time;
uniform vec2 resolution;

void main()
{
    vec2 aspect = vec2(resolution.x / resolution.y, 1.0);
    vec2 p = (gl_TexCoord[0].xy - 0.5) * aspect;
    float radius = length(p);
    float angle = atan(p.y, p.x) + time * 0.4;
    float wedge = 3.14159265 / 3.0;
    angle = mod(angle, wedge);
    angle = abs(angle - wedge * 0.5);
    float zoom = 1.0 + 0.15 * sin(time * 3.14159265);
    vec2 q = vec2(cos(angle), sin(angle)) * radius * zoom;
    vec2 uv = q / aspect + 0.5;
    vec3 colour = texture2D(texture, uv).bgr;
    colour *= 1.0 - 0.35 * smoothstep(0.3, 0.8, radius);
    gl_FragColor = vec4(colour, 1.0);
}
