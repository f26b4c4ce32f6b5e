#include "d3d9/GlProgram.h"

#include <algorithm>

namespace lumaret::platform {

GLuint LinkProgram(GLenum stage, const std::string& source, std::string* log) {
    const char* text = source.c_str();
    GLuint program = glCreateShaderProgramv(stage, 1, &text);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked) return program;
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::string message(static_cast<size_t>(std::max(length, 1)), '\0');
    glGetProgramInfoLog(program, length, nullptr, message.data());
    if (log) *log = message;
    glDeleteProgram(program);
    return 0;
}

}  // namespace lumaret::platform
