// The label GL keeps for an object (glObjectLabel), for tests of what frame debuggers show.
#pragma once

#include <epoxy/gl.h>

#include <string>

namespace lumaret::test {

inline std::string GlLabel(GLenum identifier, GLuint name) {
    char text[256] = {};
    GLsizei length = 0;
    glGetObjectLabel(identifier, name, sizeof(text), &length, text);
    return std::string(text, static_cast<size_t>(length));
}

}  // namespace lumaret::test
