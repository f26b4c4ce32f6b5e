#include "resources/ShaderFile.h"

#include <algorithm>
#include <cstring>

ShaderFileSections SplitShaderFile(const char* text, size_t size) {
    // Line breaks of old Mac editors (a CR alone) count as lines, as they do for the HLSL
    // compiler of Direct3D 9; the compiler here is given them as LF.
    auto loneCr = [&](size_t i) { return text[i] == '\r' && (i + 1 == size || text[i + 1] != '\n'); };
    for (size_t i = 0; i < size; ++i) {
        if (!loneCr(i)) continue;
        std::string unified(text, size);
        for (size_t k = i; k < size; ++k)
            if (loneCr(k)) unified[k] = '\n';
        return SplitShaderFile(unified.data(), unified.size());
    }
    auto markerAt = [&](size_t at, const char* marker) {
        size_t length = std::strlen(marker);
        return at <= size && size - at >= length && std::memcmp(text + at, marker, length) == 0;
    };
    auto nextHash = [&](size_t from) {
        const void* found = from < size ? std::memchr(text + from, '#', size - from) : nullptr;
        return found ? static_cast<size_t>(static_cast<const char*>(found) - text) : size;
    };
    ShaderFileSections sections;
    size_t cursor = size > 0 && text[0] == '#' ? 0 : nextHash(0);
    size_t vertexBegin = 0;
    if (markerAt(cursor, "#vertexshader")) {
        sections.hasVertex = true;
        vertexBegin = cursor + 13;
        // The vertex section runs to the pixel marker, so that its own directives (#define,
        // #if) and a '#' in a comment stay in it. A file whose first '#' after the vertex
        // marker is the pixel marker splits where it always did.
        const char* marker = "#pixelshader";
        cursor = static_cast<size_t>(std::search(text + vertexBegin, text + size, marker, marker + 12) - text);
    }
    if (markerAt(cursor, "#pixelshader")) {
        if (sections.hasVertex) sections.vertex.assign(text + vertexBegin, cursor - vertexBegin);
        sections.pixel.assign(text + cursor + 12, size - cursor - 12);
        auto lineAt = [&](size_t at) { return 1 + static_cast<int>(std::count(text, text + at, '\n')); };
        if (sections.hasVertex) sections.vertexLine = lineAt(vertexBegin);
        sections.pixelLine = lineAt(cursor);
    }
    return sections;
}

std::string NamedShaderSource(const char* source, const char* name, int firstLine) {
    if (!name || !*name) return source;
    std::string text = "#line " + std::to_string(firstLine) + " \"";
    for (const char* c = name; *c; ++c)
        if (*c != '"' && *c != '\\' && *c != '\n' && *c != '\r') text += *c;
    return text + "\"\n" + source;
}
