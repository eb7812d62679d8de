// The smallest program: one triangle with a colour at each corner, rendered without a window and
// saved as a PNG.
//
//   example_triangle [out.png]
//
// It links only the krv library (and FreeImage, which saves the PNG): no display is needed.
#include <korvane/krv.h>

int main(int argc, char** argv)
{
    const char* out = argc > 1 ? argv[1] : "triangle.png";

    // The picture: 320 x 240 pixels, supersampled 2 x 2 (the default) and filtered down when it
    // is read. A failure is printed on stderr by the error report.
    if (!krvCreateOffscreen(320, 240)) return 1;

    // Three vertices in the context's vertex buffer: attributes first, then krvCount moves on.
    krvSetVertex(3);
    krvColor3f(1, 0, 0);
    krvVertex3f(-1, -1, 0);
    krvCount();
    krvColor3f(0, 1, 0);
    krvVertex3f(1, -1, 0);
    krvCount();
    krvColor3f(0, 0, 1);
    krvVertex3f(0, 1, 0);
    krvCount();

    // Every drawn vertex goes through one matrix: a 45 degree lens, the triangle 3 units away.
    krvClear(KrvClear_Both);
    krvLoadMatrix(perspective(45, 320.0f / 240, 0.1f, 100) * translate(0, 0, -3));
    krvDrawModel(KrvModel_Triangles, 0, 1);

    const bool saved = krvSavePixelsPNG(out);
    krvDestroyOffscreen();
    return saved ? 0 : 1;
}
