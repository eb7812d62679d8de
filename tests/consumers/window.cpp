// Links korvane::window and starts its back end on SDL's dummy video driver: the component is
// found, links with SDL2 and runs without a display.
#include <korvane/krv.h>
#include <korvane/window.h>

#include <cstdio>
#include <cstdlib>

int main()
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    const bool started = krvplat::UseSdlBackend();
    krvplat::StopSdlBackend();
    std::printf("window back end: %s\n", started ? "ok" : "did not start");
    return started ? 0 : 1;
}
