// The two sections of a shader file.
//
// A shader file holds optional leading text without '#', then "#vertexshader" and vertex
// code, then "#pixelshader" and pixel code to the end of the file; or leading text and a
// "#pixelshader" section alone. Markers are compared byte for byte. The vertex section
// ends at the first "#pixelshader" after its marker, so both sections may hold
// preprocessor directives. Any other layout yields empty sources, which the compiler
// refuses.
#pragma once

#include <cstddef>
#include <string>

struct ShaderFileSections {
    bool hasVertex = false;  // "#vertexshader" was found; vertex may still be empty
    std::string vertex;
    std::string pixel;
    // Line of the file on which each section's text begins (the marker's own line), so the
    // compiler's messages can count lines as the file does.
    int vertexLine = 1;
    int pixelLine = 1;
};

ShaderFileSections SplitShaderFile(const char* text, size_t size);

// A section's text as the compiler is given it: a #line directive first, so that the
// compiler's messages and the compiled program carry the name (quotes and line breaks in
// it are left out) and count lines from the one where the source begins in its file.
// Without a name, the source alone.
std::string NamedShaderSource(const char* source, const char* name, int firstLine);
