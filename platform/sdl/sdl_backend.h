// The SDL2 back end of the platform layer: every window of the program becomes a real window,
// each presentation copies the client image to it, and SDL's keyboard, mouse and window events
// arrive as the posted Win32 messages a window procedure expects. It also runs on SDL's
// "offscreen" and "dummy" video drivers, where nothing is shown.
#pragma once

namespace krvplat {

// Starts SDL video and installs the back end (SetBackend). Returns false, leaving the program
// headless, when SDL cannot start. Call it before creating windows; a second call does nothing
// and returns true.
bool UseSdlBackend();

// Uninstalls the back end and shuts SDL video down; windows still open lose their real window.
void StopSdlBackend();

}  // namespace krvplat
