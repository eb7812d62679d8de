// Render to texture: a scene drawn into a texture first, then that texture on two squares of
// the picture, seen at an angle. Saved as a PNG.
//
//   example_render_to_texture [out.png]
#include <korvane/krv.h>

// The inner scene, drawn by krvBindTextureCamera into the texture: a colour triangle on a dark
// blue ground, the first three triangles of the vertex buffer, given in clip space.
static void DrawInner()
{
    krvClear(KrvClear_Both);
    krvLoadMatrix(mat4x4(1.0f));
    krvDrawModel(KrvModel_Triangles, 0, 3);
}

// The vertex buffer is filled once (its write cursor only moves on): the ground square and the
// triangle of the inner scene, then the square that shows the texture.
static void FillVertexBuffer()
{
    krvSetVertex(15);
    const float ground[6][2] = {{-1, -1}, {1, -1}, {1, 1}, {1, 1}, {-1, 1}, {-1, -1}};
    for (const auto& g : ground) {
        krvColor3f(0.1f, 0.15f, 0.35f);
        krvVertex3f(g[0], g[1], 0.5f);  // behind the triangle
        krvCount();
    }
    krvColor3f(1, 0.8f, 0);
    krvVertex3f(-0.8f, -0.7f, 0);
    krvCount();
    krvColor3f(0, 1, 0.6f);
    krvVertex3f(0.8f, -0.7f, 0);
    krvCount();
    krvColor3f(1, 0.2f, 0.6f);
    krvVertex3f(0, 0.8f, 0);
    krvCount();

    const float square[6][4] = {{-1, -1, 0, 0}, {1, -1, 1, 0}, {1, 1, 1, 1},
                                {1, 1, 1, 1},   {-1, 1, 0, 1}, {-1, -1, 0, 0}};
    for (const auto& q : square) {
        krvColor3f(1, 1, 1);  // white: the texture shows as it is
        krvTexture2f(q[2], q[3]);
        krvVertex3f(q[0], q[1], 0);
        krvCount();
    }
}

int main(int argc, char** argv)
{
    const char* out = argc > 1 ? argv[1] : "render_to_texture.png";
    const int width = 320, height = 240;
    if (!krvCreateOffscreen(width, height)) return 1;

    FillVertexBuffer();

    // A colour texture as the target; its size is the inner scene's viewport.
    CTexture screen = krvGenTextureCamera(128, 128);
    krvBindTextureCamera(128, 128, &screen, DrawInner);

    // Two squares facing the camera at different turns, each showing the whole texture.
    krvSwitch(KrvSwitch_Texturing, true);
    krvCullFace(KrvCullMode_None);  // the turned square may show its back
    krvBindTexture(&screen);
    krvClear(KrvClear_Both);
    const mat4x4 viewProjection =
        perspective(45, float(width) / height, 0.1f, 100) * translate(0, 0, -5);
    krvLoadMatrix(viewProjection * translate(-1.2f, 0, 0) * rotate(30, vec3(0, 1, 0)));
    krvDrawModel(KrvModel_Triangles, 3, 2);
    krvLoadMatrix(viewProjection * translate(1.2f, 0, 0) * rotate(-30, vec3(0, 1, 0)));
    krvDrawModel(KrvModel_Triangles, 3, 2);

    const bool saved = krvSavePixelsPNG(out);
    krvBindTexture(nullptr);
    screen.Destroy();
    krvDestroyOffscreen();
    return saved ? 0 : 1;
}
