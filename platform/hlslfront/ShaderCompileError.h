// The one way a stage of D3DXCompileShader reports a failure: the text that goes back to
// the caller in the error buffer.
#pragma once

#include <string>

namespace lumaret::platform {

class ShaderCompileError {
public:
    explicit ShaderCompileError(std::string text) : text(std::move(text)) {}
    std::string text;
};

}  // namespace lumaret::platform
