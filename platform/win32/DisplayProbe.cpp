// display_probe: exits 0 when a window could be shown, 1 when the program would run
// headless. It opens the display exactly as the window system does, so a display
// variable that names no server counts as no display (run.sh asks it before a run).
#include "win32/WindowSystem.h"

int main() { return lumaret::platform::IsHeadless() ? 1 : 0; }
