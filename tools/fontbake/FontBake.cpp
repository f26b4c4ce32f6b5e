// fontbake: bakes a TrueType or OpenType font into the engine's .mofo bitmap font.
//
// FreeType renders every character from the space (code 32) up to endChar - 1, anti-aliased,
// into one square 8-bit coverage atlas; the engine turns that atlas into a white texture with
// the coverage in alpha. data/Tahoma8.mofo is made with the defaults: DejaVu Sans at a 10-pixel
// em (capitals 7 pixels tall and letters about as wide as Tahoma 8pt's, on a 12-pixel line),
// endChar 127 (printable ASCII), in a 128 x 128 texture:
//   fontbake -o data/Tahoma8.mofo
// The file keeps the name the engine looks up; the face in it is DejaVu Sans, not Tahoma.
//
// What is written, little-endian:
//   0   "MOFO"      format tag
//   4   u8          format version, 1
//   5   u8          endChar
//   6   u8          line height: the height of every glyph cell, in pixels
//   7   u8          baseline: pixels from a cell's top row down to the baseline
//   8   u16         texture size n (the atlas is n x n)
//   10  u16         coverage rows stored; the rows below them are empty
//   12  u16 each    advance width of each glyph in pixels: how far the pen moves after it
//   ..  4 x u16     each glyph's cell as left, top, right, bottom texel coordinates; right and
//                   bottom are exclusive, so the cell is (right - left) x (bottom - top)
//   ..  rows x n    coverage bytes, top row first
// The engine reads only endChar, n, the row count, the cells and the coverage; bytes 0-4, 6, 7
// and the advances are for text layout. Every cell is one line tall and starts at the pen: a
// glyph is drawn by putting its cell's top-left corner at the pen position on the line's top
// edge, then moving the pen right by its advance. A cell is as wide as the glyph's advance or
// its ink, whichever reaches further; ink left of the pen (a rare negative bearing at this
// size) is moved right to start at the pen. Cells are packed in character order, in shelves,
// with one empty texel between neighbours so that linear filtering does not bleed.
#include <ft2build.h>
#include FT_FREETYPE_H

#include "common/ToolExitStatus.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {


constexpr const char* DefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr int FirstChar = 32;
constexpr int CellGap = 1;
constexpr int SmallestAutoTexture = 64;
constexpr int LargestTexture = 4096;

struct Options {
    std::string fontPath = DefaultFont;
    std::string outputPath;
    int pixelSize = 10;
    int textureSize = 0;  // 0: the smallest power of two that holds every cell
    int endChar = 127;
};

struct Glyph {
    int advance = 0;
    int inkLeft = 0;  // from the pen to the first ink column
    int inkTop = 0;   // from the baseline up to the first ink row
    int inkWidth = 0;
    int inkRows = 0;
    std::vector<uint8_t> ink;  // inkRows x inkWidth coverage bytes
    int cellX = 0;
    int cellY = 0;
    int cellWidth = 0;
};

struct Atlas {
    int lineHeight = 0;
    int baseline = 0;
    int textureSize = 0;
    int rowCount = 0;
    std::vector<uint8_t> coverage;  // rowCount x textureSize
};

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: fontbake [options] -o FILE.mofo\n"
                 "\n"
                 "Bakes a TrueType or OpenType font into a .mofo bitmap font: an 8-bit coverage\n"
                 "atlas plus one cell and one advance width per character from the space up to\n"
                 "END-CHAR - 1. Each cell is one line tall and starts at the pen position.\n"
                 "\n"
                 "  -o, --output FILE        the .mofo file to write (required)\n"
                 "  -f, --font FILE          the font to render (default %s)\n"
                 "  -s, --pixel-size N       em size in pixels, 4 to 128 (default 10: a 12-pixel\n"
                 "                           line, about the size of Tahoma 8pt)\n"
                 "  -t, --texture-size N     atlas width and height, a power of two from 16 to %d\n"
                 "                           (default: the smallest from %d up that holds every glyph)\n"
                 "  -e, --end-char N         one past the last character code, 32 to 255 (default 127);\n"
                 "                           codes above 127 are taken as Latin-1\n"
                 "  -h, --help               show this text\n"
                 "\n"
                 "Exit status: 0 written, 1 bad arguments, 2 the font cannot be read or rendered,\n"
                 "3 the glyphs do not fit the texture size asked for, 4 the output cannot be written.\n",
                 DefaultFont, LargestTexture, SmallestAutoTexture);
}

std::optional<int> ParseInt(const char* text) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < -100000 || value > 100000) return std::nullopt;
    return static_cast<int>(value);
}

// Parses the command line; on a mistake prints why and returns nullopt.
std::optional<Options> ParseArguments(int argc, char** argv, bool* helpAsked) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            *helpAsked = true;
            return std::nullopt;
        }
        bool known = arg == "-o" || arg == "--output" || arg == "-f" || arg == "--font" || arg == "-s" ||
                     arg == "--pixel-size" || arg == "-t" || arg == "--texture-size" || arg == "-e" ||
                     arg == "--end-char";
        if (!known) {
            std::fprintf(stderr, "fontbake: unknown %s %s (see --help)\n",
                         arg.rfind('-', 0) == 0 ? "option" : "argument", arg.c_str());
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "fontbake: %s needs a value (see --help)\n", arg.c_str());
            return std::nullopt;
        }
        const char* value = argv[++i];
        if (arg == "-o" || arg == "--output") {
            options.outputPath = value;
        } else if (arg == "-f" || arg == "--font") {
            options.fontPath = value;
        } else {
            std::optional<int> number = ParseInt(value);
            if (!number) {
                std::fprintf(stderr, "fontbake: %s needs a whole number, not '%s'\n", arg.c_str(), value);
                return std::nullopt;
            }
            if (arg == "-s" || arg == "--pixel-size") {
                if (*number < 4 || *number > 128) {
                    std::fprintf(stderr, "fontbake: pixel size %d is outside 4 to 128\n", *number);
                    return std::nullopt;
                }
                options.pixelSize = *number;
            } else if (arg == "-t" || arg == "--texture-size") {
                bool powerOfTwo = *number > 0 && (*number & (*number - 1)) == 0;
                if (!powerOfTwo || *number < 16 || *number > LargestTexture) {
                    std::fprintf(stderr, "fontbake: texture size %d is not a power of two from 16 to %d\n", *number,
                                 LargestTexture);
                    return std::nullopt;
                }
                options.textureSize = *number;
            } else {
                // endChar is one byte in the file.
                if (*number < FirstChar || *number > 255) {
                    std::fprintf(stderr, "fontbake: end char %d is outside 32 to 255\n", *number);
                    return std::nullopt;
                }
                options.endChar = *number;
            }
        }
    }
    if (options.outputPath.empty()) {
        std::fprintf(stderr, "fontbake: no output file given (-o FILE.mofo; see --help)\n");
        return std::nullopt;
    }
    return options;
}

// FreeType's own table of error texts, expanded the way fterrors.h documents; the library's
// FT_Error_String is usually compiled out.
struct FreeTypeErrorText {
    int code;
    const char* text;
};
// clang-format off
#undef FTERRORS_H_
#define FT_ERRORDEF(e, v, s) {v, s},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST {0, nullptr}}
const FreeTypeErrorText FreeTypeErrorTexts[] =
#include FT_ERRORS_H
;
// clang-format on

std::string FreeTypeMessage(FT_Error error) {
    for (const FreeTypeErrorText& entry : FreeTypeErrorTexts)
        if (entry.text && entry.code == error) return entry.text;
    return "FreeType error " + std::to_string(error);
}

// Renders every character; glyphs the font lacks are left empty with a warning.
bool RenderGlyphs(const Options& options, std::vector<Glyph>* glyphs) {
    FT_Library library = nullptr;
    FT_Error error = FT_Init_FreeType(&library);
    if (error) {
        std::fprintf(stderr, "fontbake: cannot start FreeType: %s\n", FreeTypeMessage(error).c_str());
        return false;
    }
    FT_Face face = nullptr;
    bool ok = false;
    // FreeType reports a missing file only as "cannot open resource"; the C library says why.
    if (FILE* probe = std::fopen(options.fontPath.c_str(), "rb")) {
        std::fclose(probe);
        error = FT_New_Face(library, options.fontPath.c_str(), 0, &face);
    } else {
        std::fprintf(stderr, "fontbake: cannot open font %s: %s\n", options.fontPath.c_str(), std::strerror(errno));
        FT_Done_FreeType(library);
        return false;
    }
    if (error) {
        std::fprintf(stderr, "fontbake: cannot read font %s: %s\n", options.fontPath.c_str(),
                     FreeTypeMessage(error).c_str());
    } else if ((error = FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(options.pixelSize))) != 0) {
        std::fprintf(stderr, "fontbake: %s has no %d-pixel size: %s\n", options.fontPath.c_str(), options.pixelSize,
                     FreeTypeMessage(error).c_str());
    } else {
        ok = true;
        glyphs->assign(static_cast<size_t>(options.endChar - FirstChar), Glyph{});
        for (int code = FirstChar; code < options.endChar && ok; ++code) {
            Glyph& glyph = (*glyphs)[static_cast<size_t>(code - FirstChar)];
            FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(code));
            if (index == 0) {
                if (code < 127 || code > 159)  // Latin-1 control codes have no glyphs anywhere
                    std::fprintf(stderr, "fontbake: warning: %s has no glyph for code %d; left empty\n",
                                 options.fontPath.c_str(), code);
                continue;
            }
            // Light hinting snaps only vertically: crisp baselines and x-heights at small sizes
            // without distorting the letter shapes.
            error = FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT);
            if (error) {
                std::fprintf(stderr, "fontbake: cannot render code %d: %s\n", code, FreeTypeMessage(error).c_str());
                ok = false;
                break;
            }
            FT_GlyphSlot slot = face->glyph;
            const FT_Bitmap& bitmap = slot->bitmap;
            if (bitmap.rows > 0 && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) {
                std::fprintf(stderr, "fontbake: code %d did not render as 8-bit coverage\n", code);
                ok = false;
                break;
            }
            glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
            glyph.inkLeft = slot->bitmap_left;
            glyph.inkTop = slot->bitmap_top;
            glyph.inkWidth = static_cast<int>(bitmap.width);
            glyph.inkRows = static_cast<int>(bitmap.rows);
            glyph.ink.resize(static_cast<size_t>(glyph.inkWidth) * static_cast<size_t>(glyph.inkRows));
            for (int row = 0; row < glyph.inkRows; ++row) {
                // A negative pitch means FreeType stored the rows bottom-up.
                const uint8_t* source = bitmap.pitch >= 0 ? bitmap.buffer + row * bitmap.pitch
                                                          : bitmap.buffer + (glyph.inkRows - 1 - row) * -bitmap.pitch;
                std::memcpy(glyph.ink.data() + static_cast<size_t>(row) * static_cast<size_t>(glyph.inkWidth), source,
                            static_cast<size_t>(glyph.inkWidth));
            }
        }
    }
    if (face) FT_Done_Face(face);
    FT_Done_FreeType(library);
    return ok;
}

// Places the cells in shelves of one line each; false when they do not fit size x size.
bool PackCells(std::vector<Glyph>* glyphs, int lineHeight, int size, int* usedRows) {
    int x = 0, y = 0;
    for (Glyph& glyph : *glyphs) {
        if (glyph.cellWidth > size) return false;
        if (x + glyph.cellWidth > size) {
            x = 0;
            y += lineHeight + CellGap;
        }
        if (y + lineHeight > size) return false;
        glyph.cellX = x;
        glyph.cellY = y;
        x += glyph.cellWidth + CellGap;
    }
    *usedRows = glyphs->empty() ? 0 : y + lineHeight;
    return true;
}

// Lays the glyphs out and draws the atlas; false (with a message) when they do not fit.
bool BuildAtlas(const Options& options, std::vector<Glyph>* glyphs, Atlas* atlas) {
    // The line spans the ink of every glyph baked, so no glyph is ever cut.
    int ascent = 0, descent = 0;
    for (Glyph& glyph : *glyphs) {
        if (glyph.inkRows > 0) {
            ascent = std::max(ascent, glyph.inkTop);
            descent = std::max(descent, glyph.inkRows - glyph.inkTop);
        }
        glyph.cellWidth = std::max(glyph.advance, std::max(glyph.inkLeft, 0) + glyph.inkWidth);
    }
    atlas->baseline = ascent;
    atlas->lineHeight = ascent + descent;

    if (options.textureSize > 0) {
        atlas->textureSize = options.textureSize;
        if (!PackCells(glyphs, atlas->lineHeight, atlas->textureSize, &atlas->rowCount)) {
            std::fprintf(stderr, "fontbake: the glyphs do not fit a %d x %d texture; ask for a larger --texture-size\n",
                         options.textureSize, options.textureSize);
            return false;
        }
    } else {
        int size = SmallestAutoTexture;
        while (!PackCells(glyphs, atlas->lineHeight, size, &atlas->rowCount)) {
            size *= 2;
            if (size > LargestTexture) {
                std::fprintf(stderr, "fontbake: the glyphs do not fit even a %d x %d texture\n", LargestTexture,
                             LargestTexture);
                return false;
            }
        }
        atlas->textureSize = size;
    }

    size_t n = static_cast<size_t>(atlas->textureSize);
    atlas->coverage.assign(static_cast<size_t>(atlas->rowCount) * n, 0);
    for (const Glyph& glyph : *glyphs) {
        int left = glyph.cellX + std::max(glyph.inkLeft, 0);
        int top = glyph.cellY + ascent - glyph.inkTop;
        for (int row = 0; row < glyph.inkRows; ++row)
            std::memcpy(&atlas->coverage[static_cast<size_t>(top + row) * n + static_cast<size_t>(left)],
                        &glyph.ink[static_cast<size_t>(row) * static_cast<size_t>(glyph.inkWidth)],
                        static_cast<size_t>(glyph.inkWidth));
    }
    return true;
}

void PutU16(std::vector<uint8_t>* out, int value) {
    out->push_back(static_cast<uint8_t>(value & 0xFF));
    out->push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

std::vector<uint8_t> EncodeMofo(const Options& options, const std::vector<Glyph>& glyphs, const Atlas& atlas) {
    std::vector<uint8_t> out = {'M',
                                'O',
                                'F',
                                'O',
                                1,
                                static_cast<uint8_t>(options.endChar),
                                static_cast<uint8_t>(atlas.lineHeight),
                                static_cast<uint8_t>(atlas.baseline)};
    PutU16(&out, atlas.textureSize);
    PutU16(&out, atlas.rowCount);
    for (const Glyph& glyph : glyphs) PutU16(&out, glyph.advance);
    for (const Glyph& glyph : glyphs) {
        PutU16(&out, glyph.cellX);
        PutU16(&out, glyph.cellY);
        PutU16(&out, glyph.cellX + glyph.cellWidth);
        PutU16(&out, glyph.cellY + atlas.lineHeight);
    }
    out.insert(out.end(), atlas.coverage.begin(), atlas.coverage.end());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    bool helpAsked = false;
    std::optional<Options> options = ParseArguments(argc, argv, &helpAsked);
    if (helpAsked) {
        PrintUsage(stdout);
        return ExitOk;
    }
    if (!options) return ExitUsage;

    std::vector<Glyph> glyphs;
    if (!RenderGlyphs(*options, &glyphs)) return ExitUnreadable;
    Atlas atlas;
    if (!BuildAtlas(*options, &glyphs, &atlas)) return ExitUnusable;
    // Both go into one byte of the header.
    if (atlas.lineHeight > 255) {
        std::fprintf(stderr, "fontbake: a %d-pixel line is too tall for the format\n", atlas.lineHeight);
        return ExitUnusable;
    }

    std::vector<uint8_t> bytes = EncodeMofo(*options, glyphs, atlas);
    std::ofstream file(options->outputPath, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "fontbake: cannot write %s: %s\n", options->outputPath.c_str(), std::strerror(errno));
        return ExitUnwritable;
    }
    std::printf("%s: %zu glyphs, %d x %d texture, %d rows used, line height %d, baseline %d\n",
                options->outputPath.c_str(), glyphs.size(), atlas.textureSize, atlas.textureSize, atlas.rowCount,
                atlas.lineHeight, atlas.baseline);
    return ExitOk;
}
