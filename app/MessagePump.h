// One turn of the Win32 message pump, as the main loop takes it: at most one message per
// frame, translated and dispatched; "WM_QUIT" is logged when it is taken.
#pragma once

// False once WM_QUIT has been taken from the queue.
bool PumpOneMessage();
