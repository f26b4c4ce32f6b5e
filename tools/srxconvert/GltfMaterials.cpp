#include "GltfMaterials.h"

#include "GltfJsonScan.h"

#include <string_view>

namespace srxconvert {

namespace {

// Follows the keys down to materials[i].pbrMetallicRoughness.
class MetalnessScan : public GltfJsonScan {
public:
    std::vector<GltfMetalness> materials;

protected:
    void OnObject() override {
        if (path_.size() == 2 && path_[1] == "materials" && key_.empty()) materials.emplace_back();
    }
    // The key is what counts, whatever its value: a stated factor of 1 is a metal too.
    void OnKey(const std::string& name) override {
        if (path_.size() == 4 && path_[1] == "materials" && path_[2].empty() && path_[3] == "pbrMetallicRoughness" &&
            !materials.empty()) {
            if (name == "metallicFactor") materials.back().factor = true;
            if (name == "metallicRoughnessTexture") materials.back().texture = true;
        }
    }
};

}  // namespace

std::vector<GltfMetalness> GltfStatedMetalness(const char* json, size_t size) {
    std::string_view text(json, size);
    // A file without the word states no metalness: not worth a parse.
    if (text.find("metallic") == std::string_view::npos) return {};
    MetalnessScan scan;
    if (!RunGltfJsonScan(text, scan)) return {};
    return scan.materials;
}

}  // namespace srxconvert
