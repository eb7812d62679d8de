// A textured, lit model with its shadow: the demo's car body from data/, standing on a tiled
// floor, lit by one light whose shadow map darkens the floor behind it. Saved as a PNG.
//
//   example_textured_obj DATA_DIR [out.png]
#include <korvane/krv.h>

#include <cstdio>
#include <string>

// The shadow pass takes a callback without arguments: the casters are reached through this.
static CObject car;

// Casters are drawn from the light with their front faces culled: the map then holds the far
// side, and a lit surface does not shadow itself.
static void DrawCasters()
{
    krvCullFace(KrvCullMode_Front);
    krvDrawArray(car.Vertex, 0, car.NumVertex);
    krvCullFace(KrvCullMode_Back);
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DATA_DIR [out.png]\n", argv[0]);
        return 2;
    }
    const char* out = argc > 2 ? argv[2] : "textured_obj.png";
    const int width = 480, height = 360;

    // The loaders put this folder in front of every file name they are given.
    ModuleDirectory = (std::string(argv[1]) + "/").c_str();
    if (!krvCreateOffscreen(width, height)) return 1;

    // The model, with the texture its MTL file names, and the floor's texture. A failure has
    // already been printed on stderr by the error report.
    if (!car.LoadObj("Models/golf/", "golf.obj")) return 1;
    CTexture tiles = krvLoadTexture("ceiling.jpg");

    // Object-mode transforms change the model's own vertices, once: turn it side-on, put its
    // middle over the origin and its wheels on the floor at y = -0.5, 2.4 units long.
    krvMatrixMode(KrvMatrixMode_Object);
    krvSetObject(car);
    krvRotate3f(-90, 0, 1, 0);
    vec3 lo = krvGetObjectMin(), hi = krvGetObjectMax();
    krvTranslate3f(-(lo.x + hi.x) / 2, -lo.y, -(lo.z + hi.z) / 2);
    const float s = 2.4f / (hi.x - lo.x);
    krvScale3f(s, s, s);
    krvTranslate3f(0, -0.5f, 0);

    // The floor: two triangles in the vertex buffer, white so the texture shows as it is,
    // the texture repeated four times across.
    static const float corners[6][4] = {{-3, 3, 0, 0}, {3, 3, 4, 0},   {3, -3, 4, 4},
                                        {3, -3, 4, 4}, {-3, -3, 0, 4}, {-3, 3, 0, 0}};
    krvSetVertex(6);
    for (const auto& c : corners) {
        krvVertex3f(c[0], -0.5f, c[1]);
        krvTexture2f(c[2], c[3]);
        krvNormal3f(0, 1, 0);
        krvColor3f(1, 1, 1);
        krvCount();
    }

    // One light; the shadow pass renders the casters from it (it looks at the origin).
    CLight light = krvSetLight(vec3(-1.0f, 3.6f, -2.6f), vec3(0.35f, 0.35f, 0.35f),
                               vec3(0.9f, 0.9f, 0.9f), vec3(0.6f, 0.6f, 0.6f), 0, 0, 0);
    krvGenTextureShadowProjection(1024, 1024);
    krvRenderTextureShadowProjection(light, DrawCasters);

    // The scene pass: textures, the light and the shadow map on.
    krvSwitch(KrvSwitch_Texturing, true);
    krvSwitch(KrvSwitch_Lighting, true);
    krvAddLight(&light);
    krvBindTextureShadowProjection();
    krvClear(KrvClear_Both);
    krvLoadMatrix(perspective(45, float(width) / height, 0.1f, 50) *
                  look(vec3(1.6f, 1.5f, 3.2f), vec3(0, -0.2f, 0), vec3(0, 1, 0)));
    krvBindTexture(&tiles);
    krvDrawModel(KrvModel_Triangles, 0, 2);
    krvBindTexture(&car.Texture);
    krvDrawArray(car.Vertex, 0, car.NumVertex);

    const bool saved = krvSavePixelsPNG(out);
    krvBindTexture(nullptr);
    krvResetLight();
    tiles.Destroy();
    car.Destroy();
    krvDestroyOffscreen();
    return saved ? 0 : 1;
}
