// Bitmap fonts in the engine's .mofo files.
//
// A .mofo file holds an 8-bit coverage image of all glyphs and one texture rectangle per
// printable character from the space upward. Little-endian, no padding:
//   0   4 bytes  signature "MOFO"
//   4   1 byte   header byte (not read)
//   5   1 byte   endChar: one past the last character; glyphCount = endChar - 32
//   6   2 bytes  header bytes (not read)
//   8   u16      textureSize n: the square texture's width and height
//   10  u16      rowCount: coverage rows stored (at most n)
//   12  u16 x glyphCount       per-glyph values (skipped)
//   ..  4 x u16 x glyphCount   glyph rectangles a, b, c, d in texels
//   ..  rowCount x n bytes     coverage, top row first; 0 transparent, 255 opaque
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The largest font texture: what the font baker makes at most (a 4096 x 4096 atlas).
constexpr uint32_t kMaxFontTextureSize = 4096;

struct GlyphRect {
    float a, b, c, d;  // the file's four texel values divided by the texture size
};

struct FontRecord {
    std::string name;  // lower-cased path, the same key as the font's texture
    std::vector<GlyphRect> glyphs;
    int32_t textureIndex = -1;
    uint32_t textureSize = 0;
};

// The parsed contents of a .mofo file.
struct MofoFont {
    int endChar = 32;
    uint32_t textureSize = 0;
    uint32_t rowCount = 0;
    std::vector<GlyphRect> glyphs;
    const uint8_t* coverage = nullptr;  // rowCount x textureSize bytes inside the parsed buffer
};

// Parses a .mofo file. Files without the "MOFO" signature, whose endChar is below 32, whose
// rowCount exceeds the texture size, whose texture size is 0 or beyond kMaxFontTextureSize,
// or whose length is not exactly what their header announces are refused (false, with the
// reason in *error); nothing past size is read.
bool ParseMofo(const uint8_t* data, size_t size, MofoFont* font, std::string* error);
