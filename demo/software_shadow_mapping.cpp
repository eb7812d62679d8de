// The shadow-mapping demonstration program: opens the window, runs the scene of demo_scene.cpp.
//   software_shadow_mapping [--quit-after SECONDS] [--save-last-frame FILE.png]
// ends the program by itself and writes the last frame, for runs without a display.
#include "demo/demo_scene.h"
#include "platform/sdl/sdl_backend.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quit-after") == 0 && i + 1 < argc) {
            QuitAfter = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--save-last-frame") == 0 && i + 1 < argc) {
            SaveLastFrame = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: %s [--quit-after SECONDS] [--save-last-frame FILE.png]\n",
                         argv[0]);
            return 2;
        }
    }
    if (!krvplat::UseSdlBackend())
        std::fprintf(stderr, "no display: running without a window on screen\n");
    StartTick = GetTickCount();

    if (krvCreateWindow("3D Korvane Demo", 800, 600, 32, GetModuleHandleA(nullptr), InitScene)) {
        if (!_3D_KRV_Report_Error.IsEmpty()) {
            // Missing or broken data: say so, then run with what loaded.
            std::fprintf(stderr, "%s", _3D_KRV_Report_Error.c_str());
            MessageBoxA(nullptr, _3D_KRV_Report_Error.c_str(), _3D_KRV_Title_Error.c_str(),
                        MB_ICONERROR);
        }
        krvRedrawWindow();
    } else {
        std::fprintf(stderr, "%s", _3D_KRV_Report_Error.c_str());
        MessageBoxA(nullptr, _3D_KRV_Report_Error.c_str(), _3D_KRV_Title_Error.c_str(),
                    MB_ICONERROR);
    }

    Mdlruota1.Destroy();
    Mdlruota2.Destroy();
    Mdlruota3.Destroy();
    Mdlruota4.Destroy();
    Mdlvetri.Destroy();
    MdlOBJ.Destroy();
    testmdl.Destroy();
    Texture0.Destroy();
    krvDestroyWindow();
    return 0;
}
