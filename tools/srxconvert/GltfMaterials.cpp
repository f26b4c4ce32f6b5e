#include "GltfMaterials.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace srxconvert {

namespace {

// Follows the keys down to materials[i].pbrMetallicRoughness without building the document
// (a glTF's JSON can run to many megabytes of accessors), as the light range scan does.
class MetalnessScan : public nlohmann::json_sax<nlohmann::json> {
public:
    std::vector<GltfMetalness> materials;

    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t) override { return Value(); }
    bool number_unsigned(number_unsigned_t) override { return Value(); }
    bool number_float(number_float_t, const string_t&) override { return Value(); }
    bool string(string_t&) override { return Value(); }
    bool binary(binary_t&) override { return Value(); }
    bool start_object(std::size_t) override {
        if (path_.size() == 2 && path_[1] == "materials" && key_.empty()) materials.emplace_back();
        return Open();
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(); }
    bool end_array() override { return Close(); }
    bool key(string_t& name) override {
        key_ = name;
        // The key is what counts, whatever its value: a stated factor of 1 is a metal too.
        if (path_.size() == 4 && path_[1] == "materials" && path_[2].empty() && path_[3] == "pbrMetallicRoughness" &&
            !materials.empty()) {
            if (name == "metallicFactor") materials.back().factor = true;
            if (name == "metallicRoughnessTexture") materials.back().texture = true;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    // The open containers: the key each was opened under ("" in arrays and at the root).
    std::vector<std::string> path_;
    std::string key_;

    bool Open() {
        path_.push_back(key_);
        key_.clear();
        return true;
    }
    bool Value() {
        key_.clear();
        return true;
    }
    bool Close() {
        if (!path_.empty()) path_.pop_back();
        key_.clear();
        return true;
    }
};

}  // namespace

std::vector<GltfMetalness> GltfStatedMetalness(const char* json, size_t size) {
    std::string_view text(json, size);
    // A file without the word states no metalness: not worth a parse.
    if (text.find("metallic") == std::string_view::npos) return {};
    MetalnessScan scan;
    // The nesting was checked before the import (NodeDepth.h); the parser keeps its stack on
    // the heap.
    try {
        if (!nlohmann::json::sax_parse(text.begin(), text.end(), &scan, nlohmann::json::input_format_t::json, false))
            return {};
    } catch (const std::exception&) {
        return {};
    }
    return scan.materials;
}

}  // namespace srxconvert
