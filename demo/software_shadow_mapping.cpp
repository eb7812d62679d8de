// The shadow-mapping demonstration program: opens the window, runs the scene of demo_scene.cpp.
//   software_shadow_mapping [--quit-after SECONDS] [--save-last-frame FILE.png] [--help]
//                           [--version]
// --quit-after ends the program by itself and --save-last-frame writes the last frame, for runs
// without a user.
#include "demo/demo_scene.h"
#include "platform/sdl/sdl_backend.h"
#include "base/options.h"

#include <korvane/version.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Help(const char* argv0)
{
    std::printf(
        "usage: %s [options]\n"
        "A car on a textured floor, lit by a light that circles it and casts its shadow.\n"
        "\n"
        "  --quit-after SECONDS       end by itself after this many seconds (more than 0)\n"
        "  --save-last-frame FILE.png save the last frame before ending (needs --quit-after);\n"
        "                             the exit status is 1 when it cannot be written\n"
        "  --help                     this text\n"
        "  --version                  the renderer's version\n"
        "\n"
        "Mouse: left drag orbits, the wheel zooms. Keys: W S A D Z X move, Space stops the\n"
        "light, 1-4 anti-aliasing off/4x/9x/16x, 5-0 window sizes, R render mode, F filter,\n"
        "T textures, L lighting, P shadows, O car, M shadow-map overlay, F12 saves the frame,\n"
        "Escape quits.\n"
        "\n"
        "It needs a display (DISPLAY or WAYLAND_DISPLAY). Without one, scripts/demo renders\n"
        "offscreen for a few seconds and saves the last frame; SDL_VIDEODRIVER=offscreen with\n"
        "--quit-after and --save-last-frame does the same by hand.\n",
        argv0);
}

bool HasEnv(const char* name) { return std::getenv(name) && *std::getenv(name); }

}  // namespace

int main(int argc, char** argv)
{
    const char* program = krvopt::ProgramName(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            Help(program);
            return 0;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::printf("software_shadow_mapping (korvane) %s\n", KRV_VERSION);
            return 0;
        }
        if (std::strcmp(a, "--quit-after") != 0 && std::strcmp(a, "--save-last-frame") != 0)
            return krvopt::BadOption(program, "unknown option '%s'", a);
        if (i + 1 >= argc) return krvopt::BadOption(program, "%s needs a value", a);
        const char* v = argv[++i];
        if (std::strcmp(a, "--quit-after") == 0) {
            if (!krvopt::ParseFloat(v, 0.0, 1e9, QuitAfter) || QuitAfter <= 0.0)
                return krvopt::BadOption(program, "--quit-after '%s': not seconds above 0", v);
        } else {
            SaveLastFrame = v;
        }
    }
    if (!SaveLastFrame.empty() && QuitAfter <= 0.0)
        return krvopt::BadOption(program, "--save-last-frame needs --quit-after");

    // Without a display the window would run on, drawn in memory where nobody sees it; a
    // bounded run (--quit-after) may, since it ends by itself and can save what it drew.
    if (!HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY") && !HasEnv("SDL_VIDEODRIVER") &&
        QuitAfter <= 0.0) {
        std::fprintf(stderr,
                     "%s: no display (DISPLAY and WAYLAND_DISPLAY are not set); scripts/demo "
                     "renders offscreen and saves a picture instead\n",
                     program);
        return 1;
    }
    if (!krvplat::UseSdlBackend()) {
        if (QuitAfter <= 0.0) {
            std::fprintf(stderr,
                         "%s: no window can be opened; give --quit-after to render "
                         "without one\n",
                         program);
            return 1;
        }
        std::fprintf(stderr, "no display: running for %g seconds without a window on screen\n",
                     QuitAfter);
    }
    StartTick = GetTickCount();

    // Start-up failures have been echoed on stderr as the report received them.
    const bool opened =
        krvCreateWindow("3D Korvane Demo", 800, 600, 32, GetModuleHandleA(nullptr), InitScene);
    if (opened) {
        if (!_3D_KRV_Report_Error.IsEmpty()) {
            // Missing or broken data: say so, then run with what loaded.
            MessageBoxA(nullptr, _3D_KRV_Report_Error.c_str(), _3D_KRV_Title_Error.c_str(),
                        MB_ICONERROR);
        }
        krvRedrawWindow();
    } else {
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
    return !opened || (!SaveLastFrame.empty() && !LastFrameSaved) ? 1 : 0;
}
