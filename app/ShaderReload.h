// ShaderReload: edit a shader file while the window is open and see the change.
//
// Every shader loaded from a file is watched (FileWatch.h), looked at no more than four
// times a second. A file is compiled again (under its existing shader index) once a change
// has settled; if a half-written file does slip through, the next save is compiled like
// any other. Success logs "Shader reloaded: PATH"; failure keeps the old programs, logs the
// compiler's message (file and line) and shows it for five seconds, beside any other
// file's failure (one file's success clears its own failure only). An
// edit never ends the program. Headless runs do not watch.
#pragma once

#include "app/FileWatch.h"

#include <string>
#include <vector>

class Renderer;

class ShaderReload {
public:
    // Takes note of every file-backed shader of the renderer as it is now.
    ShaderReload(Renderer& renderer, bool watch);

    // Called once a frame with the program's clock in seconds.
    void Poll(float seconds);
    // How long a failure stays on screen.
    static constexpr float kMessageSeconds = 5.0f;

    // The failures to be shown now, one file's after another's, else empty.
    std::string Message(float seconds) const;

private:
    struct Watched {
        int shader = -1;
        FileWatch file;
        std::string failure;  // the last reload's message, until one succeeds
        float failureUntil = -1.0f;
    };

    Renderer& renderer_;
    bool watch_;
    std::vector<Watched> files_;
    float nextLook_ = 0.0f;
};
