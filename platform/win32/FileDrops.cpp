// Files dropped on a window that called DragAcceptFiles, as Win32 hands them over: one
// WM_DROPFILES per drop, whose HDROP DragQueryFileA reads and DragFinish frees.
#include "win32/WindowState.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

// What DragQueryFileA reads: the paths of one drop.
struct HDROP__ {
    std::vector<std::string> files;
};

namespace lumaret::platform::windowing {

namespace {

// The files of a drop SDL has begun and not yet completed.
struct Dropping {
    HDROP drop = nullptr;
    uint32_t window = 0;
    bool begun = false;
};

Dropping gDropping;

}  // namespace

void TranslateDropEvent(const SDL_Event& event) {
    // SDL reports a drop file by file between a begin and a complete; Win32 hands the
    // window the whole drop in one message. A file without a begin is a drop of its own.
    Dropping& d = gDropping;
    if (event.type == SDL_DROPBEGIN || !d.drop) {
        delete d.drop;
        d.drop = new HDROP__;
        d.window = event.drop.windowID;
    }
    if (event.type == SDL_DROPFILE && event.drop.file) d.drop->files.push_back(event.drop.file);
    if (event.drop.file) SDL_free(event.drop.file);
    bool lone = event.type == SDL_DROPFILE && !d.begun;
    d.begun = event.type == SDL_DROPBEGIN || (d.begun && event.type == SDL_DROPFILE);
    if (event.type != SDL_DROPCOMPLETE && !lone) return;
    HDROP drop = d.drop;
    d.drop = nullptr;
    d.begun = false;
    HWND window = FindBySdlId(d.window);
    WindowRecord* record = window ? Find(window) : nullptr;
    if (!record || !record->acceptsFiles || drop->files.empty()) {
        delete drop;
        return;
    }
    Post(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
}

}  // namespace lumaret::platform::windowing

using namespace lumaret::platform::windowing;

void WINAPI DragAcceptFiles(HWND window, BOOL accept) {
    if (WindowRecord* record = Find(window)) record->acceptsFiles = accept != FALSE;
}

UINT WINAPI DragQueryFileA(HDROP drop, UINT file, LPSTR buffer, UINT size) {
    if (!drop) return 0;
    if (file == 0xFFFFFFFFu) return static_cast<UINT>(drop->files.size());
    if (file >= drop->files.size()) return 0;
    const std::string& path = drop->files[file];
    if (!buffer) return static_cast<UINT>(path.size());
    if (size == 0) return 0;
    UINT copied = static_cast<UINT>(std::min<size_t>(path.size(), size - 1));
    std::memcpy(buffer, path.data(), copied);
    buffer[copied] = '\0';
    return copied;
}

void WINAPI DragFinish(HDROP drop) { delete drop; }
