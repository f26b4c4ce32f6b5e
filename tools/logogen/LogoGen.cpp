// logogen: draws the engine's wordmark into the 256 x 64 RGBA PNG that the engine shows at half
// size in the bottom-left corner of every frame (data/lum_logo_256x64.png), and with --icon
// the application icon the desktop shows for the viewer, at any of the usual sizes.
//
// FreeType renders the word, anti-aliased, at the largest size that fits the image with a
// margin; under it runs a thin amber accent line that fades out to the right. Both cast a soft
// dark shadow, so the white letters stay readable over a bright scene. Everything else is
// transparent. The icon draws the same letter work (by default the initial alone) on a
// rounded slate tile, so that it reads on light and dark panels alike. The layers are
// composited with premultiplied alpha and written as PNG (straight alpha) with
// stb_image_write:
//   logogen -o data/lum_logo_256x64.png
//   logogen --icon 48 -o lumaret.png     (the build makes every size it installs)
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBIW_WINDOWS_UTF8 0
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include <ft2build.h>
#include FT_FREETYPE_H

#include "common/ToolExitStatus.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {


constexpr const char* DefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr float ShadowOpacity = 0.6f;
constexpr float AccentRed = 1.0f, AccentGreen = 0.66f, AccentBlue = 0.16f;
constexpr int SmallestIcon = 16, LargestIcon = 1024;
// The icon's tile: a vertical gradient between these, inset and rounded by these shares
// of the icon's size.
constexpr float TileTop[3] = {0.25f, 0.33f, 0.44f}, TileBottom[3] = {0.09f, 0.13f, 0.19f};
constexpr float TileInset = 1.0f / 16.0f, TileRadius = 0.2f;

// Where everything goes: the image's size and the letters' place in it.
struct Layout {
    int width = 256;
    int height = 64;
    int margin = 8;
    int largestPixelSize = 48;
    int smallestPixelSize = 8;
    int accentGap = 4;  // between the baseline and the accent line
    int accentThickness = 3;
    int shadowOffset = 2;  // two texels here, one pixel once the logo is drawn at half size
    bool tile = false;
};

// The icon of size x size pixels: the letters inside a fifth of a margin on the tile, the
// accent and the shadow in proportion, never thinner than a pixel.
Layout IconLayout(int size) {
    Layout layout;
    layout.width = layout.height = size;
    layout.margin = static_cast<int>(std::lround(size * 0.2f));
    layout.largestPixelSize = size;
    layout.smallestPixelSize = 4;
    layout.accentGap = std::max(1, static_cast<int>(std::lround(size / 24.0f)));
    layout.accentThickness = std::max(1, static_cast<int>(std::lround(size / 20.0f)));
    layout.shadowOffset = std::max(1, static_cast<int>(std::lround(size / 48.0f)));
    layout.tile = true;
    return layout;
}

struct Options {
    std::string fontPath = DefaultFont;
    std::string text = "Lumaret";
    bool textGiven = false;
    std::string outputPath;
    int icon = 0;  // the icon's size; 0: the wordmark
};

// One channel of coverage over the whole image, 0 to 1.
using Layer = std::vector<float>;

void PrintUsage(FILE* out) {
    Layout wordmark;
    std::fprintf(out,
                 "usage: logogen [options] -o FILE.png\n"
                 "\n"
                 "Draws the engine's wordmark into a %d x %d RGBA PNG: white anti-aliased letters\n"
                 "with an amber accent line under them and a soft shadow, on a transparent\n"
                 "background.\n"
                 "\n"
                 "  -o, --output FILE    the PNG to write (required)\n"
                 "  -f, --font FILE      the font to render (default %s)\n"
                 "  -t, --text TEXT      the word to draw (default Lumaret; L with --icon)\n"
                 "  -i, --icon SIZE      draw the application icon instead: SIZE x SIZE pixels\n"
                 "                       (%d to %d), the letters on a rounded slate tile\n"
                 "  -h, --help           show this text\n"
                 "\n"
                 "Exit status: 0 written, 1 bad arguments, 2 the font cannot be read or rendered,\n"
                 "3 the text does not fit the image, 4 the output cannot be written.\n",
                 wordmark.width, wordmark.height, DefaultFont, SmallestIcon, LargestIcon);
}

std::optional<Options> ParseArguments(int argc, char** argv, bool* helpAsked) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            *helpAsked = true;
            return std::nullopt;
        }
        std::string icon;
        std::string* target = arg == "-o" || arg == "--output" ? &options.outputPath
                              : arg == "-f" || arg == "--font" ? &options.fontPath
                              : arg == "-t" || arg == "--text" ? &options.text
                              : arg == "-i" || arg == "--icon" ? &icon
                                                               : nullptr;
        if (!target) {
            std::fprintf(stderr, "logogen: unknown %s %s (see --help)\n",
                         arg.rfind('-', 0) == 0 ? "option" : "argument", arg.c_str());
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "logogen: %s needs a value (see --help)\n", arg.c_str());
            return std::nullopt;
        }
        *target = argv[++i];
        options.textGiven = options.textGiven || target == &options.text;
        if (target == &icon) {
            char* end = nullptr;
            long size = std::strtol(icon.c_str(), &end, 10);
            if (icon.empty() || *end != '\0' || size < SmallestIcon || size > LargestIcon) {
                std::fprintf(stderr, "logogen: --icon needs a size from %d to %d\n", SmallestIcon, LargestIcon);
                return std::nullopt;
            }
            options.icon = static_cast<int>(size);
        }
    }
    if (options.icon && !options.textGiven) options.text.assign(1, 'L');
    if (options.outputPath.empty()) {
        std::fprintf(stderr, "logogen: no output file given (-o FILE.png; see --help)\n");
        return std::nullopt;
    }
    if (options.text.empty()) {
        std::fprintf(stderr, "logogen: the text is empty\n");
        return std::nullopt;
    }
    return options;
}

struct TextExtent {
    int width = 0;   // from the pen's start to the right edge of the last ink
    int ascent = 0;  // ink above the baseline
};

// Runs the pen over the text; with a layer, also draws the glyphs into it with the pen starting
// at (left, baseline). Returns false on a FreeType failure.
bool PlaceText(const Layout& layout, FT_Face face, const std::string& text, TextExtent* extent, Layer* layer, int left,
               int baseline) {
    long pen = 0;  // 26.6 fixed point
    FT_UInt previous = 0;
    *extent = TextExtent{};
    for (unsigned char character : text) {
        FT_UInt index = FT_Get_Char_Index(face, character);
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Vector kerning;
            if (FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &kerning) == 0) pen += kerning.x;
        }
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER) != 0) return false;
        FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        int x0 = static_cast<int>((pen + 32) >> 6) + slot->bitmap_left;
        extent->width = std::max(extent->width, x0 + static_cast<int>(bitmap.width));
        extent->ascent = std::max(extent->ascent, slot->bitmap_top);
        if (layer && bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
            for (int row = 0; row < static_cast<int>(bitmap.rows); ++row) {
                int y = baseline - slot->bitmap_top + row;
                if (y < 0 || y >= layout.height) continue;
                const uint8_t* source = bitmap.buffer + row * bitmap.pitch;
                for (int column = 0; column < static_cast<int>(bitmap.width); ++column) {
                    int x = left + x0 + column;
                    if (x < 0 || x >= layout.width) continue;
                    float& texel = (*layer)[static_cast<size_t>(y) * layout.width + static_cast<size_t>(x)];
                    texel = std::min(1.0f, texel + source[column] / 255.0f);
                }
            }
        }
        pen += slot->advance.x;
        previous = index;
    }
    return true;
}

// The letters and the accent line, as coverage layers. Picks the largest pixel size at which
// the word and its accent fit inside the margins.
int DrawWordmark(const Layout& layout, const Options& options, Layer* letters, Layer* accent) {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        std::fprintf(stderr, "logogen: cannot start FreeType\n");
        return ExitUnreadable;
    }
    FT_Face face = nullptr;
    int status = ExitOk;
    // FreeType reports a missing file only as "cannot open resource"; the C library says why.
    if (FILE* probe = std::fopen(options.fontPath.c_str(), "rb")) {
        std::fclose(probe);
        if (FT_New_Face(library, options.fontPath.c_str(), 0, &face) != 0) {
            std::fprintf(stderr, "logogen: %s is not a font FreeType can read\n", options.fontPath.c_str());
            status = ExitUnreadable;
        }
    } else {
        std::fprintf(stderr, "logogen: cannot open font %s: %s\n", options.fontPath.c_str(), std::strerror(errno));
        status = ExitUnreadable;
    }

    int pixelSize = layout.largestPixelSize;
    TextExtent extent;
    for (; status == ExitOk; --pixelSize) {
        if (pixelSize < layout.smallestPixelSize) {
            std::fprintf(stderr, "logogen: \"%s\" does not fit a %d x %d image\n", options.text.c_str(), layout.width,
                         layout.height);
            status = ExitUnusable;
            break;
        }
        if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize)) != 0 ||
            !PlaceText(layout, face, options.text, &extent, nullptr, 0, 0)) {
            std::fprintf(stderr, "logogen: cannot render \"%s\" with %s\n", options.text.c_str(),
                         options.fontPath.c_str());
            status = ExitUnreadable;
            break;
        }
        int height = extent.ascent + layout.accentGap + layout.accentThickness;
        if (extent.width <= layout.width - 2 * layout.margin && height <= layout.height - 2 * layout.margin) break;
    }

    if (status == ExitOk) {
        // Centred as a block: letters, gap and accent line together.
        int blockHeight = extent.ascent + layout.accentGap + layout.accentThickness;
        int left = (layout.width - extent.width) / 2;
        int baseline = (layout.height - blockHeight) / 2 + extent.ascent;
        letters->assign(static_cast<size_t>(layout.width) * layout.height, 0.0f);
        accent->assign(static_cast<size_t>(layout.width) * layout.height, 0.0f);
        PlaceText(layout, face, options.text, &extent, letters, left, baseline);
        for (int y = baseline + layout.accentGap; y < baseline + layout.accentGap + layout.accentThickness; ++y)
            for (int x = left; x < left + extent.width; ++x) {
                float along = static_cast<float>(x - left) / static_cast<float>(std::max(extent.width - 1, 1));
                (*accent)[static_cast<size_t>(y) * layout.width + static_cast<size_t>(x)] = 1.0f - 0.85f * along;
            }
    }
    if (face) FT_Done_Face(face);
    FT_Done_FreeType(library);
    return status;
}

// The shadow: the union of both layers, moved down and right and softened by a 3 x 3 box.
Layer CastShadow(const Layout& layout, const Layer& letters, const Layer& accent) {
    Layer shadow(letters.size(), 0.0f);
    for (int y = 0; y < layout.height; ++y)
        for (int x = 0; x < layout.width; ++x) {
            float sum = 0.0f;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    int sx = x - layout.shadowOffset + dx, sy = y - layout.shadowOffset + dy;
                    if (sx < 0 || sy < 0 || sx >= layout.width || sy >= layout.height) continue;
                    size_t i = static_cast<size_t>(sy) * layout.width + static_cast<size_t>(sx);
                    sum += std::max(letters[i], accent[i]);
                }
            shadow[static_cast<size_t>(y) * layout.width + static_cast<size_t>(x)] = ShadowOpacity * sum / 9.0f;
        }
    return shadow;
}

// The icon's tile as coverage, 4 x 4 samples a pixel over its rounded edges.
Layer DrawTile(const Layout& layout) {
    float size = static_cast<float>(layout.width);
    float inset = std::max(1.0f, std::round(size * TileInset)), radius = size * TileRadius;
    float low = inset, high = size - inset;
    Layer tile(static_cast<size_t>(layout.width) * layout.height, 0.0f);
    for (int y = 0; y < layout.height; ++y)
        for (int x = 0; x < layout.width; ++x) {
            int inside = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    float px = x + (sx + 0.5f) / 4.0f, py = y + (sy + 0.5f) / 4.0f;
                    // Distance past the corner circles' centres, then within the radius.
                    float dx = std::max({low + radius - px, px - (high - radius), 0.0f});
                    float dy = std::max({low + radius - py, py - (high - radius), 0.0f});
                    inside += px >= low && px <= high && py >= low && py <= high && dx * dx + dy * dy <= radius * radius;
                }
            tile[static_cast<size_t>(y) * layout.width + static_cast<size_t>(x)] = inside / 16.0f;
        }
    return tile;
}

// Tile (for the icon), shadow, then accent, then letters, each "over" the ones before;
// returns straight-alpha RGBA.
std::vector<uint8_t> Composite(const Layout& layout, const Layer& tile, const Layer& shadow, const Layer& accent,
                               const Layer& letters) {
    std::vector<uint8_t> rgba(static_cast<size_t>(layout.width) * layout.height * 4);
    for (size_t i = 0; i < letters.size(); ++i) {
        float r = 0, g = 0, b = 0, a = 0;  // premultiplied
        auto over = [&](float red, float green, float blue, float alpha) {
            r = red * alpha + r * (1 - alpha);
            g = green * alpha + g * (1 - alpha);
            b = blue * alpha + b * (1 - alpha);
            a = alpha + a * (1 - alpha);
        };
        if (!tile.empty()) {
            float down = static_cast<float>(i / static_cast<size_t>(layout.width)) / std::max(layout.height - 1, 1);
            over(TileTop[0] + (TileBottom[0] - TileTop[0]) * down, TileTop[1] + (TileBottom[1] - TileTop[1]) * down,
                 TileTop[2] + (TileBottom[2] - TileTop[2]) * down, tile[i]);
        }
        over(0, 0, 0, shadow[i]);
        over(AccentRed, AccentGreen, AccentBlue, accent[i]);
        over(1, 1, 1, letters[i]);
        auto byte = [](float value) { return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255)); };
        // Fully transparent texels stay black, so filtering at the edges never pulls in a colour.
        rgba[i * 4 + 0] = a > 0 ? byte(r / a) : 0;
        rgba[i * 4 + 1] = a > 0 ? byte(g / a) : 0;
        rgba[i * 4 + 2] = a > 0 ? byte(b / a) : 0;
        rgba[i * 4 + 3] = byte(a);
    }
    return rgba;
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

    Layout layout = options->icon ? IconLayout(options->icon) : Layout();
    Layer letters, accent;
    int status = DrawWordmark(layout, *options, &letters, &accent);
    if (status != ExitOk) return status;
    Layer tile = layout.tile ? DrawTile(layout) : Layer();
    std::vector<uint8_t> rgba = Composite(layout, tile, CastShadow(layout, letters, accent), accent, letters);
    if (!stbi_write_png(options->outputPath.c_str(), layout.width, layout.height, 4, rgba.data(), layout.width * 4)) {
        std::fprintf(stderr, "logogen: cannot write %s\n", options->outputPath.c_str());
        return ExitUnwritable;
    }
    std::printf("%s: \"%s\", %d x %d\n", options->outputPath.c_str(), options->text.c_str(), layout.width,
                layout.height);
    return ExitOk;
}
