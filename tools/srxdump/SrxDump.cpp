// srxdump: prints the account the engine's importer writes to log.txt for SRX files, then
// a summary of what was imported.
//
// The importer logs through Log, which always writes ./log.txt; the import therefore runs
// in a scratch working directory whose log is printed and then removed, so the caller's
// own log.txt is never touched. A file that would stop the engine (a mesh without its
// primitive chunk) is reported with the engine's message and exit status 3, instead of
// ending this program the way it ends the engine.
#include "common/ToolExitStatus.h"
#include "import/SrxFormat.h"
#include "import/SrxScene.h"
#include "resources/FileUtil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <cerrno>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void PrintUsage(FILE* out) {
    std::fputs(
        "usage: srxdump [--summary] FILE...\n"
        "\n"
        "Imports each SRX scene file as the engine does and prints the lines the importer\n"
        "writes to log.txt, then a summary: materials, nodes, tracks, keys, cameras, lights,\n"
        "meshes, primitives, vertices, triangles and bones.\n"
        "\n"
        "  --summary   print only the summary\n"
        "  --help      print this text\n"
        "\n"
        "Exit status: 0 when every file was read, 1 for a usage error, 2 when a file could\n"
        "not be read, 3 when a file would stop the engine (a mesh without its primitive).\n",
        out);
}

struct Summary {
    size_t materials = 0, nodes = 0, tracks = 0, keys = 0, cameras = 0, lights = 0;
    size_t meshes = 0, primitives = 0, vertices = 0, triangles = 0, bones = 0;
};

Summary Summarise(const SrxScene& scene) {
    Summary summary;
    summary.materials = scene.materials.size();
    summary.nodes = scene.nodes.size();
    summary.cameras = scene.cameras.size();
    summary.lights = scene.lights.size();
    summary.meshes = scene.meshes.size();
    for (const SrxNode& node : scene.nodes)
        for (const srx::TrackOrderEntry& entry : srx::TrackFileOrder) {
            if (!(node.trackFlags & entry.flag)) continue;
            ++summary.tracks;
            summary.keys += node.tracks[entry.slot].keys.size();
        }
    for (const SrxMesh& mesh : scene.meshes) {
        summary.bones += mesh.boneNodes.size();
        summary.primitives += mesh.primitives.size();
        for (const SrxPrimitive& primitive : mesh.primitives) {
            summary.vertices += primitive.vertices.size();
            summary.triangles += primitive.indices.size() / 3;
        }
    }
    return summary;
}

void PrintSummary(const Summary& s) {
    std::printf("materials: %zu\nnodes: %zu\ntracks: %zu\nkeys: %zu\ncameras: %zu\nlights: %zu\n", s.materials,
                s.nodes, s.tracks, s.keys, s.cameras, s.lights);
    std::printf("meshes: %zu\nprimitives: %zu\nvertices: %zu\ntriangles: %zu\nbones: %zu\n", s.meshes, s.primitives,
                s.vertices, s.triangles, s.bones);
}

// Lights that carry their reach, one line each: what their kind reads of the record.
void PrintLights(const SrxScene& scene) {
    static const char* const kinds[] = {"light", "point", "spot", "directional"};
    for (size_t i = 0; i < scene.lights.size(); ++i) {
        const SrxLight& l = scene.lights[i];
        if (l.kind == 0) continue;
        std::printf("light %zu: %s, node %d", i, l.kind < 4 ? kinds[l.kind] : "of an unknown kind", l.node);
        if (l.kind != srx::LightKindDirectional)
            std::printf(", at (%g, %g, %g)", l.position[0], l.position[1], l.position[2]);
        if (l.kind != srx::LightKindPoint)
            std::printf(", shining (%g, %g, %g)", l.direction[0], l.direction[1], l.direction[2]);
        std::printf(", colour (%g, %g, %g)", l.color[0], l.color[1], l.color[2]);
        if (l.kind != srx::LightKindDirectional) std::printf(", range %g", l.range);
        if (l.kind == srx::LightKindSpot)
            std::printf(", cone %g to %g degrees", l.innerCone * 57.29578, l.outerCone * 57.29578);
        std::printf("\n");
    }
}

// Line and point lists, one line each.
void PrintLinesPoints(const SrxScene& scene) {
    for (size_t i = 0; i < scene.linesPoints.size(); ++i) {
        const SrxLinesPoints& set = scene.linesPoints[i];
        size_t n = set.positions.size();
        if (set.kind == srx::LinesPointsLines)
            std::printf("lines %zu: node %d, material %d, %zu segments", i, set.node, set.material, n / 2);
        else if (set.kind == srx::LinesPointsPoints)
            std::printf("points %zu: node %d, material %d, %zu points, size %g", i, set.node, set.material, n,
                        set.pointSize);
        else
            std::printf("lines or points %zu: of unknown kind %d, %zu vertices", i, set.kind, n);
        std::printf("%s%s\n", set.colors.empty() ? "" : ", vertex colours",
                    set.follows ? ", follow the node's animation" : "");
    }
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A fresh directory to import in, removed again on destruction.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (fs::temp_directory_path() / "srxdump-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

}  // namespace

int main(int argc, char** argv) {
    bool summaryOnly = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return ExitOk;
        }
        if (arg == "--summary") {
            summaryOnly = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "srxdump: unknown option '%s'\n", arg.c_str());
            PrintUsage(stderr);
            return ExitUsage;
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "srxdump: no input file\n");
        PrintUsage(stderr);
        return ExitUsage;
    }

    ScratchDirectory scratch;
    if (scratch.Path().empty()) {
        std::fprintf(stderr, "srxdump: cannot create a scratch directory: %s\n", std::strerror(errno));
        return ExitUnreadable;
    }
    fs::path logPath = scratch.Path() / "log.txt";
    fs::path home = fs::current_path();

    int status = ExitOk;
    for (const std::string& file : files) {
        if (files.size() > 1) std::printf("== %s\n", file.c_str());
        std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(file);
        if (!bytes) {
            std::fprintf(stderr, "srxdump: cannot read '%s'\n", file.c_str());
            status = ExitUnreadable;
            continue;
        }
        std::error_code ignored;
        fs::remove(logPath, ignored);
        fs::current_path(scratch.Path());
        SrxScene scene(bytes->data(), bytes->size(), MissingPrimitive::EndImport);
        fs::current_path(home);

        if (!summaryOnly) std::fputs(ReadText(logPath).c_str(), stdout);
        if (!scene.importError.empty()) {
            std::fflush(stdout);
            std::fprintf(stderr, "srxdump: '%s' would stop the engine: %s\n", file.c_str(), scene.importError.c_str());
            if (status == ExitOk) status = ExitUnusable;
        }
        if (!summaryOnly) std::printf("-- summary\n");
        PrintSummary(Summarise(scene));
        PrintLights(scene);
        PrintLinesPoints(scene);
    }
    return status;
}
