// Win32 shell API subset: files dropped on a window (WM_DROPFILES).
#pragma once

#include <windows.h>

struct HDROP__;
typedef HDROP__* HDROP;

// A window that accepts files gets WM_DROPFILES with an HDROP in wParam for each drop.
void WINAPI DragAcceptFiles(HWND window, BOOL accept);
// file 0xFFFFFFFF: the number of files; buffer null: the length of the file's path;
// otherwise copies the path (cut to size - 1 characters) and returns the characters copied.
UINT WINAPI DragQueryFileA(HDROP drop, UINT file, LPSTR buffer, UINT size);
// Frees the drop's memory; the handle is invalid afterwards.
void WINAPI DragFinish(HDROP drop);
