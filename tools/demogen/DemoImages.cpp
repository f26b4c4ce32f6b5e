#include "DemoImages.h"

#include "DemoLayout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace demo {

namespace {

// --- Deterministic noise -------------------------------------------------------------

uint32_t Mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

uint32_t Hash(int x, int y, uint32_t seed) {
    return Mix(static_cast<uint32_t>(x) * 0x9E3779B1u ^ Mix(static_cast<uint32_t>(y) + seed * 0x85EBCA77u));
}

// Uniform in [0, 1).
double Random(int x, int y, uint32_t seed) { return (Hash(x, y, seed) >> 8) * (1.0 / 16777216.0); }

double Smoothstep(double edge0, double edge1, double x) {
    double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

int Wrap(int value, int period) { return ((value % period) + period) % period; }

// Smooth value noise in [0, 1) on a lattice of the given cell size, repeating every
// period cells, so the noise tiles across the image.
double ValueNoise(double x, double y, double cellX, double cellY, int periodX, int periodY, uint32_t seed) {
    double fx = x / cellX, fy = y / cellY;
    int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
    double tx = Smoothstep(0.0, 1.0, fx - ix), ty = Smoothstep(0.0, 1.0, fy - iy);
    auto at = [&](int dx, int dy) { return Random(Wrap(ix + dx, periodX), Wrap(iy + dy, periodY), seed); };
    double top = at(0, 0) + (at(1, 0) - at(0, 0)) * tx;
    double bottom = at(0, 1) + (at(1, 1) - at(0, 1)) * tx;
    return top + (bottom - top) * ty;
}

// Noise over the whole texture with square cells of the given size (a divisor of it).
double TileNoise(int x, int y, int cell, uint32_t seed) {
    return ValueNoise(x + 0.5, y + 0.5, cell, cell, TextureSize / cell, TextureSize / cell, seed);
}

// --- Images ----------------------------------------------------------------------------

struct Rgb {
    double r, g, b;
};

Rgb Scale(Rgb c, double k) { return {c.r * k, c.g * k, c.b * k}; }

uint8_t ToByte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

Image BlankImage(int width, int height) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    return image;
}

void Put(Image& image, int x, int y, Rgb c) {
    uint8_t* p = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
    p[0] = ToByte(c.r);
    p[1] = ToByte(c.g);
    p[2] = ToByte(c.b);
}

template <typename Colour>
Image Draw(Colour colour) {
    Image image = BlankImage(TextureSize, TextureSize);
    for (int y = 0; y < TextureSize; ++y)
        for (int x = 0; x < TextureSize; ++x) Put(image, x, y, colour(x, y));
    return image;
}

// Normals of a height field given in texels, by central differences across the wrapped
// edges: n = normalize(-dh/du, -dh/dv, 1).
template <typename Height>
Image NormalsOf(Height height) {
    std::vector<double> h(static_cast<size_t>(TextureSize) * TextureSize);
    for (int y = 0; y < TextureSize; ++y)
        for (int x = 0; x < TextureSize; ++x) h[static_cast<size_t>(y) * TextureSize + x] = height(x, y);
    auto at = [&](int x, int y) {
        return h[static_cast<size_t>(Wrap(y, TextureSize)) * TextureSize + Wrap(x, TextureSize)];
    };
    return Draw([&](int x, int y) {
        double nx = -(at(x + 1, y) - at(x - 1, y)) * 0.5;
        double ny = -(at(x, y + 1) - at(x, y - 1)) * 0.5;
        double length = std::sqrt(nx * nx + ny * ny + 1.0);
        return Rgb{0.5 + 0.5 * nx / length, 0.5 + 0.5 * ny / length, 0.5 + 0.5 / length};
    });
}

// --- Bricks: running bond, 4 bricks of 64 x 32 texels per course, 4-texel joints ---------

constexpr int CourseHeight = 32;
constexpr int BrickLength = 64;
constexpr int JointWidth = 4;

struct BrickSample {
    bool mortar = true;
    double edge = 0.0;  // distance to the nearest joint, in texels
    int brick = 0;
};

BrickSample BrickAt(int x, int y) {
    int course = y / CourseHeight;
    int shifted = x + (course % 2) * (BrickLength / 2);
    int bx = shifted % BrickLength, by = y % CourseHeight;
    BrickSample sample;
    if (bx < JointWidth || by < JointWidth) return sample;
    sample.mortar = false;
    sample.edge = std::min(std::min(bx - JointWidth + 0.5, BrickLength - bx - 0.5),
                           std::min(by - JointWidth + 0.5, CourseHeight - by - 0.5));
    sample.brick = course * (TextureSize / BrickLength) + (shifted / BrickLength) % (TextureSize / BrickLength);
    return sample;
}

double BrickHeight(int x, int y) {
    BrickSample s = BrickAt(x, y);
    if (s.mortar) return 0.3 + 0.5 * TileNoise(x, y, 4, 11);
    return 0.6 + 2.4 * Smoothstep(0.0, 3.5, s.edge) + 0.5 * TileNoise(x, y, 8, 12) + 0.2 * Random(x, y, 13);
}

// --- Tread plate: a framed panel with a groove, rivets, and raised lozenges ---------------

constexpr int FrameWidth = 16;
constexpr double GrooveCentre = FrameWidth + 1.5;
constexpr int TreadStart = FrameWidth + 4, TreadCell = 24, TreadCells = 9;  // 9 cells reach the far groove
constexpr double RivetRadius = 5.0;
constexpr int RivetPositions[] = {8, 68, 128, 188, 248};

double RivetHeight(int x, int y) {
    double px = x + 0.5, py = y + 0.5, best = 0.0;
    for (int along : RivetPositions)
        for (int across : {8, 248})
            for (auto [cx, cy] : {std::pair{along, across}, std::pair{across, along}}) {
                double dx = px - cx, dy = py - cy, r2 = (dx * dx + dy * dy) / (RivetRadius * RivetRadius);
                if (r2 < 1.0) best = std::max(best, 1.8 * std::sqrt(1.0 - r2));
            }
    return best;
}

double TreadHeight(int x, int y) {
    double px = x + 0.5 - TreadStart, py = y + 0.5 - TreadStart;
    if (px < 0 || py < 0 || px >= TreadCell * TreadCells || py >= TreadCell * TreadCells) return 0.0;
    int i = static_cast<int>(px) / TreadCell, j = static_cast<int>(py) / TreadCell;
    double dx = px - (i + 0.5) * TreadCell, dy = py - (j + 0.5) * TreadCell;
    double sign = (i + j) % 2 ? -1.0 : 1.0;  // lozenges alternate between the two diagonals
    double a = (dx + sign * dy) * std::numbers::sqrt2 / 2.0, b = (dy - sign * dx) * std::numbers::sqrt2 / 2.0;
    double f = (a / 9.0) * (a / 9.0) + (b / 2.6) * (b / 2.6);
    return 1.4 * (1.0 - Smoothstep(0.55, 1.0, f));
}

double EdgeDistance(int x, int y) {
    return std::min(std::min(x, TextureSize - 1 - x), std::min(y, TextureSize - 1 - y)) + 0.5;
}

double PlateHeight(int x, int y) {
    double groove = 0.8 * (1.0 - Smoothstep(0.6, 1.8, std::abs(EdgeDistance(x, y) - GrooveCentre)));
    double brushed = 0.06 * ValueNoise(x + 0.5, y + 0.5, 64.0, 1.0, TextureSize / 64, TextureSize, 21);
    return 1.0 - groove + TreadHeight(x, y) + RivetHeight(x, y) + brushed;
}

// --- Glazed tiles: 8 x 8 tiles of 32 texels, 3-texel grout, banded colours --------------

constexpr int TileSize = 32;
constexpr int GroutWidth = 3;

}  // namespace

Image DrawBricks() {
    const Rgb hues[] = {{0.58, 0.25, 0.17}, {0.50, 0.21, 0.15}, {0.64, 0.33, 0.21}, {0.44, 0.20, 0.16}};
    return Draw([&](int x, int y) {
        BrickSample s = BrickAt(x, y);
        double soot = 0.85 + 0.15 * TileNoise(x, y, 64, 3);
        if (s.mortar) return Scale(Rgb{0.68, 0.65, 0.60}, (0.82 + 0.18 * TileNoise(x, y, 2, 4)) * soot);
        Rgb base = hues[Hash(s.brick, 0, 1) % 4];
        double brightness = 0.85 + 0.25 * Random(s.brick, 0, 2);
        double grain = (0.88 + 0.2 * TileNoise(x, y, 4, 5)) * (0.95 + 0.1 * Random(x, y, 6));
        double bevel = 0.78 + 0.22 * Smoothstep(0.0, 3.0, s.edge);
        return Scale(base, brightness * grain * bevel * soot);
    });
}

Image DrawBricksNormals() { return NormalsOf(BrickHeight); }

Image DrawPlate() {
    return Draw([](int x, int y) {
        double brushed = 0.9 + 0.1 * ValueNoise(x + 0.5, y + 0.5, 64.0, 1.0, TextureSize / 64, TextureSize, 21);
        double grime = 0.8 + 0.2 * TileNoise(x, y, 32, 22);
        double height = PlateHeight(x, y);
        // Raised parts are worn bright, the groove and the floor between lozenges collect dirt.
        double wear = 0.7 + 0.3 * std::clamp(height / 2.4, 0.0, 1.0);
        return Scale(Rgb{0.60, 0.62, 0.65}, brushed * grime * wear + 0.08 * RivetHeight(x, y));
    });
}

Image DrawPlateNormals() { return NormalsOf(PlateHeight); }

Image DrawTiles() {
    const Rgb teal{0.10, 0.42, 0.46}, cream{0.86, 0.80, 0.66}, ochre{0.82, 0.56, 0.18}, red{0.62, 0.20, 0.14};
    return Draw([&](int x, int y) {
        int tx = x % TileSize, ty = y % TileSize;
        if (tx < GroutWidth || ty < GroutWidth)
            return Scale(Rgb{0.70, 0.68, 0.64}, 0.85 + 0.15 * TileNoise(x, y, 2, 31));
        int column = x / TileSize, row = y / TileSize;
        // Alternating bands show the bend; now and then an accent tile breaks them.
        uint32_t pick = Hash(column, row, 32) % 7;
        Rgb glaze = pick == 0 ? ochre : pick == 1 ? red : row % 2 ? cream : teal;
        double edge = std::min(std::min(tx - GroutWidth + 0.5, TileSize - tx - 0.5),
                               std::min(ty - GroutWidth + 0.5, TileSize - ty - 0.5));
        double shade = (0.9 + 0.15 * Random(column, row, 33)) * (1.06 - 0.12 * ty / TileSize) *
                       (0.75 + 0.25 * Smoothstep(0.0, 3.0, edge)) * (0.94 + 0.06 * TileNoise(x, y, 4, 34));
        return Scale(glaze, shade);
    });
}

namespace {

// --- Lightmap ---------------------------------------------------------------------------

struct Vec {
    double x, y, z;
};

Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(Vec a, double k) { return {a.x * k, a.y * k, a.z * k}; }
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec ToVec(const int (&v)[3]) {
    return {static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2])};
}

// The cylinder in its rest pose: the wall and the top cap. Its base lies on the cube's
// top face, where no ray leaving the cube can reach it.
bool HitsCylinder(Vec p, Vec w) {
    constexpr double bottom = CylinderBase, top = CylinderBase + CylinderHeight, r2 = CylinderRadius * CylinderRadius;
    constexpr double epsilon = 1e-9;
    double a = w.x * w.x + w.z * w.z;
    if (a > epsilon) {
        double b = p.x * w.x + p.z * w.z, c = p.x * p.x + p.z * p.z - r2;
        double discriminant = b * b - a * c;
        if (discriminant >= 0.0) {
            double root = std::sqrt(discriminant);
            for (double s : {(-b - root) / a, (-b + root) / a}) {
                double y = p.y + s * w.y;
                if (s > epsilon && y >= bottom && y <= top) return true;
            }
        }
    }
    if (std::abs(w.y) > epsilon) {
        double s = (top - p.y) / w.y;
        double x = p.x + s * w.x, z = p.z + s * w.z;
        if (s > epsilon && x * x + z * z <= r2) return true;
    }
    return false;
}

constexpr int RadialSamples = 12, AzimuthSamples = 24;
constexpr int LampSamples = 32;
constexpr double LampRadius = 30.0;
constexpr Vec KeyLamp{150.0, 230.0, 170.0};    // warm, above the +x, +z corner
constexpr Vec FillLamp{-170.0, 20.0, -140.0};  // cool and weaker, low on the far side
constexpr double FillStrength = 0.4;
constexpr double AmbientShare = 0.5;

// Sky light from the hemisphere of normal n at p: a fixed stratified set of
// cosine-distributed directions, turned by a per-texel angle so that the strata show as
// fine grain instead of bands; directions the cylinder blocks contribute nothing.
double SkyLight(Vec p, Vec n, Vec tangent, Vec bitangent, double turn) {
    double sum = 0.0;
    for (int i = 0; i < RadialSamples; ++i)
        for (int j = 0; j < AzimuthSamples; ++j) {
            double radius = std::sqrt((i + 0.5) / RadialSamples);
            double angle = 2.0 * std::numbers::pi * (j + turn) / AzimuthSamples;
            Vec w = tangent * (radius * std::cos(angle)) + bitangent * (radius * std::sin(angle)) +
                    n * std::sqrt(1.0 - radius * radius);
            if (!HitsCylinder(p, w)) sum += 0.5 + 0.5 * std::max(0.0, w.y);  // brighter overhead
        }
    return sum / (RadialSamples * AzimuthSamples);
}

// A round lamp of LampRadius, sampled at points spread over its disc (a sunflower
// pattern): cosine over squared distance, with a soft shadow of the cylinder.
double LampLight(Vec lamp, Vec p, Vec n) {
    Vec axis = lamp * (1.0 / std::sqrt(Dot(lamp, lamp)));
    Vec side = Vec{axis.z, 0.0, -axis.x} * (1.0 / std::sqrt(axis.x * axis.x + axis.z * axis.z));
    Vec up{side.y * axis.z - side.z * axis.y, side.z * axis.x - side.x * axis.z, side.x * axis.y - side.y * axis.x};
    double sum = 0.0;
    for (int k = 0; k < LampSamples; ++k) {
        double radius = LampRadius * std::sqrt((k + 0.5) / LampSamples);
        double angle = k * std::numbers::pi * (3.0 - std::sqrt(5.0));
        Vec toLamp = lamp + side * (radius * std::cos(angle)) + up * (radius * std::sin(angle)) + p * -1.0;
        double distance2 = Dot(toLamp, toLamp);
        Vec w = toLamp * (1.0 / std::sqrt(distance2));
        double cosine = Dot(w, n);
        if (cosine > 0.0 && !HitsCylinder(p, w)) sum += cosine / distance2;
    }
    return sum / LampSamples;
}

double EncodeSrgb(double linear) {
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

}  // namespace

Image BakeLightmap() {
    Image image = BlankImage(LightmapSize, LightmapSize);
    std::fill(image.rgb.begin(), image.rgb.end(), uint8_t{255});
    struct Texel {
        int x, y;
        double sky, key, fill;
    };
    std::vector<Texel> texels;
    double brightestLamp = 0.0;
    for (const CubeFace& face : CubeFaces) {
        Vec n = ToVec(face.normal), right = ToVec(face.right), down = ToVec(face.down);
        double inner = face.cellSize - 2.0 * LightmapPadding;
        for (int y = face.cellY; y < face.cellY + face.cellSize; ++y)
            for (int x = face.cellX; x < face.cellX + face.cellSize; ++x) {
                // Texels of the padding repeat the face's nearest edge.
                double s = std::clamp((x + 0.5 - face.cellX - LightmapPadding) / inner, 0.0, 1.0);
                double t = std::clamp((y + 0.5 - face.cellY - LightmapPadding) / inner, 0.0, 1.0);
                Vec p = (n + right * (2.0 * s - 1.0) + down * (2.0 * t - 1.0)) * CubeHalf;
                Texel texel{x, y, SkyLight(p, n, right, down, Random(x, y, 41)), LampLight(KeyLamp, p, n),
                            FillStrength * LampLight(FillLamp, p, n)};
                brightestLamp = std::max(brightestLamp, texel.key);
                texels.push_back(texel);
            }
    }
    // Open sky overhead gives AmbientShare; the key lamp's brightest texel adds the rest.
    const double openSky = 0.5 + 0.5 * (2.0 / 3.0);
    for (const Texel& texel : texels) {
        double sky = AmbientShare * texel.sky / openSky;
        double key = (1.0 - AmbientShare) * texel.key / brightestLamp;
        double fill = (1.0 - AmbientShare) * texel.fill / brightestLamp;
        Rgb light{sky * 0.94 + key * 1.0 + fill * 0.8, sky * 0.97 + key * 0.95 + fill * 0.9,
                  sky * 1.0 + key * 0.85 + fill * 1.0};
        Put(image, texel.x, texel.y, Rgb{EncodeSrgb(light.r), EncodeSrgb(light.g), EncodeSrgb(light.b)});
    }
    return image;
}

}  // namespace demo
