#include "ModelSummary.h"

#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "scene/World.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <set>

namespace viewer {

ModelSummary CountScene(const SrxScene& scene) {
    ModelSummary summary;
    summary.meshes = scene.meshes.size();
    summary.materials = scene.materials.size();
    for (const SrxLight& light : scene.lights)
        if (light.kind >= 1 && light.kind <= 3) ++summary.lights[light.kind - 1];
    std::set<int32_t> bones;
    for (const SrxMesh& mesh : scene.meshes) {
        bones.insert(mesh.boneNodes.begin(), mesh.boneNodes.end());
        for (const SrxPrimitive& p : mesh.primitives) {
            summary.vertices += p.vertices.size();
            summary.triangles += p.indices.size() / 3;
        }
    }
    summary.bones = bones.size();
    for (const SrxLinesPoints& set : scene.linesPoints)
        (set.kind == srx::LinesPointsPoints ? summary.points : summary.lines) +=
            set.kind == srx::LinesPointsPoints ? set.positions.size() : set.positions.size() / 2;
    // Every image a material names, as the engine draws them: the diffuse and normal maps,
    // then the extension's (emissive, opacity, metal/roughness and roughness maps); not the
    // engine's own white map, which stands for a diffuse map the model does not have.
    std::set<std::string> names{srx::EngineWhiteMap, ""};
    auto add = [&](const std::string& name) {
        if (names.insert(name).second) summary.images.push_back({name, false});
    };
    for (const SrxMaterial& material : scene.materials) {
        int count = std::min(std::popcount(material.mapMask), srx::MaxMaps);
        for (int i = 0; i < count; ++i) add(material.maps[i]);
        for (int bit = 0; bit < srx::ExtraMapCount; ++bit)
            if (material.extraMapMask & (1u << bit)) add(material.extraMaps[bit]);
    }
    uint32_t lastKey = 0;
    for (const SrxNode& node : scene.nodes)
        for (const SrxTrack& track : node.tracks)
            for (const SrxKey& key : track.keys) lastKey = std::max(lastKey, key.time);
    for (const SrxMesh& mesh : scene.meshes)
        for (const SrxPrimitive& p : mesh.primitives)
            for (const SrxMorphKey& key : p.morphKeys) lastKey = std::max(lastKey, key.time);
    // The clock wraps at its cycle: a key past it is never shown.
    if (lastKey > 0)
        summary.clips.push_back({"", -1.0, std::min<double>(lastKey, AnimationCycleTicks())});
    return summary;
}

ModelSummary Summarize(ModelSummary counted, const Renderer& renderer, const std::string& file,
                       const std::string& format, const D3DXVECTOR3& size, const D3DXMATRIX& framing) {
    ModelSummary summary = std::move(counted);
    summary.file = file;
    summary.format = format;
    for (ModelSummary::Image& image : summary.images) image.found = renderer.FindTexture("./data/" + image.name) >= 0;
    summary.size = size;
    // The framing scales uniformly: the length of a row is the scale.
    summary.scale = std::sqrt(framing._11 * framing._11 + framing._12 * framing._12 + framing._13 * framing._13);
    return summary;
}

namespace {

// "label N: a, b, c", wrapped before it grows wider than a panel should be.
void AppendList(std::string& text, const std::string& label, const std::vector<std::string>& items) {
    constexpr size_t kWidest = 64;
    std::string line = label + " " + std::to_string(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        std::string item = (i ? ", " : ": ") + items[i];
        if (line.size() + item.size() > kWidest) {
            text += line + (i ? ",\n" : ":\n");
            line = "  " + item.substr(2);
        } else {
            line += item;
        }
    }
    text += line + "\n";
}

}  // namespace

std::string ModelSummary::Text() const {
    char line[256];
    std::string text = file + " (" + format + ")\n";
    bool differs = inFile.known &&
                   (inFile.meshes != meshes || inFile.materials != materials || inFile.triangles != triangles);
    std::snprintf(line, sizeof(line), "%smeshes %zu  vertices %zu  triangles %zu\nmaterials %zu  bones %zu\n",
                  differs ? "drawn: " : "", meshes, vertices, triangles, materials, bones);
    text += line;
    if (lines || points) {
        std::snprintf(line, sizeof(line), "lines %zu  points %zu\n", lines, points);
        text += line;
    }
    if (differs) {
        std::snprintf(line, sizeof(line), "in the file: meshes %zu  materials %zu  triangles %zu\n", inFile.meshes,
                      inFile.materials, inFile.triangles);
        text += line;
    }
    std::vector<std::string> items;
    for (const Image& image : images) items.push_back(image.name + (image.found ? "" : " (missing)"));
    AppendList(text, "images", items);
    items.clear();
    for (const Clip& clip : clips) {
        if (clip.seconds >= 0.0)
            std::snprintf(line, sizeof(line), "%s%s%.2f s", clip.name.c_str(), clip.name.empty() ? "" : " ", clip.seconds);
        else
            std::snprintf(line, sizeof(line), "%s%s%.0f ticks", clip.name.c_str(), clip.name.empty() ? "" : " ",
                          clip.ticks);
        items.push_back(line);
    }
    AppendList(text, "animations", items);
    const char* const kinds[] = {"point", "spot", "directional"};
    if (size_t total = lights[0] + lights[1] + lights[2]) {
        text += "lights " + std::to_string(total);
        const char* separator = ": ";
        for (int k = 0; k < 3; ++k)
            if (lights[k]) text += separator + std::to_string(lights[k]) + " " + kinds[k], separator = ", ";
        text += "\n";
    }
    std::snprintf(line, sizeof(line), "size %.4g x %.4g x %.4g, shown at x %.4g", size.x, size.y, size.z, scale);
    text += line;
    return text;
}

}  // namespace viewer
