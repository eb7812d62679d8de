// The program every consumer builds: it renders one triangle headless through <korvane/krv.h>
// and checks two pixels, so a build that compiles but links the wrong library or headers fails.
#include <korvane/krv.h>
#include <korvane/version.h>

#include <cstdio>

int main()
{
    const int width = 64, height = 48;
    if (!krvCreateOffscreen(width, height)) return 1;
    krvSetVertex(3);
    krvColor3f(1, 0, 0);
    krvVertex3f(-1, -1, 0);
    krvCount();
    krvColor3f(1, 0, 0);
    krvVertex3f(1, -1, 0);
    krvCount();
    krvColor3f(1, 0, 0);
    krvVertex3f(0, 1, 0);
    krvCount();
    krvClear(KrvClear_Both);
    krvLoadMatrix(perspective(45, float(width) / height, 0.1f, 100) * translate(0, 0, -3));
    krvDrawModel(KrvModel_Triangles, 0, 1);
    unsigned char rgb[width * height * 3];
    if (!krvReadPixels(rgb, sizeof rgb)) return 1;
    krvDestroyOffscreen();

    // Red, green, blue bytes, top row first.
    auto pixel = [&](int x, int y) { return rgb + (y * width + x) * 3; };
    const unsigned char* centre = pixel(width / 2, height / 2);
    const unsigned char* corner = pixel(1, 1);
    const bool ok = centre[0] > 200 && centre[1] < 50 && centre[2] < 50 && corner[0] == 0 &&
                    corner[1] == 0 && corner[2] == 0;
    std::printf("korvane %s: centre %d %d %d, corner %d %d %d: %s\n", KRV_VERSION, centre[0],
                centre[1], centre[2], corner[0], corner[1], corner[2], ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}
