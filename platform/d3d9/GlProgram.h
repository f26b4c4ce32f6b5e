// Separable GL programs from GLSL text: the device's compiled shaders and the stages it
// generates itself.
#pragma once

#include <epoxy/gl.h>

#include <string>

namespace lumaret::platform {

// Compiles and links one stage; 0 with the GL's log in *log on failure.
GLuint LinkProgram(GLenum stage, const std::string& source, std::string* log);

}  // namespace lumaret::platform
