// srxconvert: turns any model Assimp reads (glTF, FBX, Collada, DirectX .x, OBJ, ...) into
// an SRX scene the engine loads as it is, with the images its materials name next to it.
#include "BoundedRun.h"
#include "Conversion.h"
#include "common/ToolExitStatus.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

namespace {

void PrintUsage(FILE* out) {
    std::fputs(
        "usage: srxconvert [OPTIONS] IN OUT.srx\n"
        "\n"
        "Converts a model that Assimp reads (glTF, FBX, Collada, DirectX .x, OBJ, ...) into\n"
        "an SRX scene for the engine, and writes the images its materials name next to\n"
        "OUT.srx under the names the SRX stores (lower case; copied when the engine reads\n"
        "the format, BMP, PNG, DDS, TGA or JPG, converted to PNG otherwise).\n"
        "\n"
        "  --scale S              scale the whole scene by S (default 1)\n"
        "  --animation N          animate with the file's animation N, from 0 (default: the first)\n"
        "  --ticks-per-second R   play R engine ticks per source second (default: fit)\n"
        "  --root DIR             let the model also name files inside DIR (default: only\n"
        "                         files inside the model's own folder)\n"
        "  --time-limit S         give the import and conversion S seconds of processing\n"
        "                         (1 to 86400, default 120)\n"
        "  --help                 print this text\n"
        "\n"
        "Time: the engine's animation clock runs from tick 0 to 600 and back, 24 ticks per\n"
        "frame. By default the whole animation is spread over ticks 0..600, so the clock\n"
        "plays it once per cycle. With --ticks-per-second R, source second s is tick s * R:\n"
        "what lies past tick 600 is not shown, and a shorter animation holds its last pose\n"
        "until the clock starts again. Tracks hold a key every 24 ticks.\n"
        "\n"
        "Handedness: the engine negates z and reverses each triangle when it loads. Vertices\n"
        "and triangles are written as the (right-handed, counter-clockwise) source has them,\n"
        "which the engine's conversion turns into the same, unmirrored picture; every node,\n"
        "offset matrix and track key is written mirrored in z (F M F, F = diag(1, 1, -1, 1))\n"
        "so that it acts on the z-negated vertices as the source's acts on its own.\n"
        "\n"
        "Geometry: triangles only (lines and points are dropped and counted); one or two\n"
        "texture-coordinate sets; at most four bone weights per vertex, renormalised. Every\n"
        "node's matrix is its global transform, as the engine applies no parent transforms.\n"
        "Meshes with bones, or moved by the animation, are written skinned; a mesh over\n"
        "65535 vertices or triangles, or over 48 bones, is split into several meshes.\n"
        "\n"
        "Numbers that are not finite are never written: triangles on such vertices are\n"
        "dropped, and so are meshes whose node, bone or animation matrices overflow (each\n"
        "counted in a warning).\n"
        "\n"
        "Files the model names (material libraries, buffers, images) must resolve, links\n"
        "followed, inside its folder or --root DIR, and be regular files; each one refused\n"
        "is named. Every file read may be at most 512 MiB. Nodes may nest 30000 levels deep\n"
        "(a glTF deeper than that is refused before it is read).\n"
        "\n"
        "The import and conversion run in a child process limited in processing time and to\n"
        "half the machine's memory: a reader that crashes, aborts or runs past the limit is\n"
        "that model's error (exit status 2), named with how the child ended.\n"
        "\n"
        "Output: OUT.srx and its images are written under temporary names and renamed into\n"
        "place once all of them are complete; a failed write leaves nothing behind. No output\n"
        "may be a file the model is read from (the model, its .mtl, buffers or images).\n"
        "\n"
        "Exit status: 0 converted, 1 usage error, 2 the input cannot be read (or the output\n"
        "written), 3 the scene is empty or holds nothing the engine can draw.\n",
        out);
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "srxconvert: %s (see --help)\n", message.c_str());
    return ExitUsage;
}

bool ParsePositive(const char* text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && std::isfinite(value) && value > 0.0;
}

bool ParseIndex(const char* text, int& value) {
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < 0 || parsed > 1000000) return false;
    value = static_cast<int>(parsed);
    return true;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out;
}

void PrintReport(const srxconvert::ConvertReport& r, const srxconvert::ConvertOptions& options) {
    std::printf("materials: %zu\n", r.materials);
    std::printf("images: %zu%s%s\n", r.images.size(), r.images.empty() ? "" : " ", Joined(r.images).c_str());
    std::printf("nodes: %zu (%zu added to carry skinned meshes)\n", r.nodes, r.addedNodes);
    std::printf("meshes: %zu (%zu skinned), vertices: %zu, triangles: %zu, bones: %zu\n", r.meshes, r.skinnedMeshes,
                r.vertices, r.triangles, r.bones);
    if (r.splitSources)
        std::printf("split: %zu source meshes over the vertex, triangle or bone limit\n", r.splitSources);
    if (r.lines || r.points) std::printf("lines: %zu, points: %zu (drawn unlit)\n", r.lines, r.points);
    std::printf("dropped: %zu lines, %zu points, %zu polygons\n", r.droppedLines, r.droppedPoints, r.droppedPolygons);
    if (r.animated)
        std::printf("animation: '%s', %.3f s on ticks 0..%u (%s), %zu tracks of %zu keys\n", r.animationName.c_str(),
                    r.animationSeconds, r.lastTick, options.ticksPerSecond > 0.0 ? "--ticks-per-second" : "fitted",
                    r.tracks, r.keysPerTrack);
    else
        std::printf("animation: none, %zu tracks holding bone poses\n", r.tracks);
    for (const std::string& feature : r.features) std::printf("%s\n", feature.c_str());
    for (const std::string& warning : r.warnings) std::printf("warning: %s\n", warning.c_str());
}

// The conversion and its report, in the child.
int Convert(const char* input, const char* output, const srxconvert::ConvertOptions& options) {
    srxconvert::ConvertReport report;
    srxconvert::ConvertResult result;
    try {
        result = srxconvert::ConvertFile(input, output, options, report);
    } catch (const std::bad_alloc&) {
        // The import has its own handler; this one covers the conversion and the writing.
        result = {srxconvert::ConvertStatus::Unreadable, "out of memory"};
    }
    switch (result.status) {
        case srxconvert::ConvertStatus::Ok:
            std::printf("srxconvert: %s -> %s\n", input, output);
            PrintReport(report, options);
            return ExitOk;
        case srxconvert::ConvertStatus::NoSuchAnimation:
        case srxconvert::ConvertStatus::OutputIsInput: return UsageError(result.message);
        case srxconvert::ConvertStatus::Unreadable:
            std::fprintf(stderr, "srxconvert: cannot read %s: %s\n", input, result.message.c_str());
            return ExitUnreadable;
        case srxconvert::ConvertStatus::Unwritable:
            std::fprintf(stderr, "srxconvert: %s\n", result.message.c_str());
            return ExitUnreadable;
        case srxconvert::ConvertStatus::Unsupported:
            std::fprintf(stderr, "srxconvert: nothing to convert in %s: %s\n", input, result.message.c_str());
            return ExitUnusable;
    }
    return ExitUnusable;
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit then fails the write, which is reported and cleaned up, instead of
    // killing the process half-way through its files.
    std::signal(SIGXFSZ, SIG_IGN);
    srxconvert::ConvertOptions options;
    srxconvert::RunLimits limits;
    limits.addressSpaceBytes = srxconvert::DefaultAddressSpaceLimit();
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return ExitOk;
        } else if (arg == "--scale") {
            double value;
            if (!hasValue || !ParsePositive(argv[++i], value) || value > FLT_MAX || value < FLT_MIN)
                return UsageError("--scale needs a positive number a float holds");
            options.scale = static_cast<float>(value);
        } else if (arg == "--ticks-per-second") {
            double value;
            if (!hasValue || !ParsePositive(argv[++i], value))
                return UsageError("--ticks-per-second needs a positive number");
            options.ticksPerSecond = value;
        } else if (arg == "--animation") {
            if (!hasValue || !ParseIndex(argv[++i], options.animation))
                return UsageError("--animation needs an animation number from 0");
        } else if (arg == "--root") {
            if (!hasValue || !std::filesystem::is_directory(argv[++i]))
                return UsageError("--root needs a directory");
            options.root = argv[i];
        } else if (arg == "--time-limit") {
            double value;
            if (!hasValue || !ParsePositive(argv[++i], value) || value < 1 || value > 86400 || value != std::floor(value))
                return UsageError("--time-limit needs whole seconds from 1 to 86400");
            limits.cpuSeconds = static_cast<int>(value);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.size() != 2) return UsageError("needs an input model and an output .srx file");

    std::string why;
    int status = srxconvert::RunBounded([&] { return Convert(files[0], files[1], options); }, limits, why);
    if (!why.empty()) std::fprintf(stderr, "srxconvert: cannot read %s: %s\n", files[0], why.c_str());
    return status;
}
