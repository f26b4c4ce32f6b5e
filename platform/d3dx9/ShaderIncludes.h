// The #include lines of HLSL source, resolved as D3DX resolves them: through the caller's
// ID3DXInclude, `#include "name"` as D3DXINC_LOCAL and `#include <name>` as D3DXINC_SYSTEM.
// The handler's text takes the line's place between #line directives, so that the
// compiler's messages name the included file and its lines, then the includer's again.
// The front end that compiles the result reads no file of its own. Without a handler the
// text stays as it is, and the front end refuses the line.
#pragma once

#include <d3dx9.h>

#include <cstddef>
#include <string>

namespace lumaret::platform {

// Includes within includes, as deep as this; deeper is taken as a file that includes itself.
constexpr int kMaxIncludeDepth = 16;

// Throws ShaderCompileError when the handler cannot open a file, or the nesting is too deep.
std::string ExpandIncludes(const std::string& source, ID3DXInclude* include);

}  // namespace lumaret::platform
