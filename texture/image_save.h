// Writing images to disk: a saved frame (F12 in the demo, --out of the benchmark, test failures).
#pragma once

#include "platform/win32.h"

// Saves width x height 3-byte blue, green, red pixels as a PNG. Rows are rowBytes apart and run
// bottom to top when bottomUp (the layout of the core's colour buffer), else top to bottom.
bool krvSaveImagePNG(const char* path, int width, int height, const unsigned char* bgr,
                     int rowBytes, bool bottomUp);
// Saves what the window shows (its client image).
bool krvSaveWindowImage(HWND hwnd, const char* path);
