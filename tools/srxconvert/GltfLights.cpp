#include "GltfLights.h"

#include "NodeDepth.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <string_view>

namespace srxconvert {

namespace {

// Follows the keys down to extensions.KHR_lights_punctual.lights[i].range without building
// the document: a glTF's JSON can run to many megabytes of accessors. Keys arrive decoded,
// so an escaped spelling of a name is the name.
class LightRangeScan : public nlohmann::json_sax<nlohmann::json> {
public:
    std::vector<float> ranges;

    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t value) override { return Number(static_cast<double>(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Number(static_cast<double>(value)); }
    bool number_float(number_float_t value, const string_t&) override { return Number(value); }
    bool string(string_t&) override { return Value(); }
    bool binary(binary_t&) override { return Value(); }
    bool start_object(std::size_t) override {
        // A light's object: the elements of the lights array.
        if (InLightsArray()) ranges.push_back(std::nanf(""));
        path_.push_back(key_);
        key_.clear();
        return true;
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override {
        path_.push_back(key_);
        key_.clear();
        return true;
    }
    bool end_array() override { return Close(); }
    bool key(string_t& name) override {
        key_ = name;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    // The open containers: the key each was opened under ("" in arrays and at the root).
    std::vector<std::string> path_;
    std::string key_;

    bool InLightsArray() const {
        return path_.size() == 4 && path_[1] == "extensions" && path_[2] == "KHR_lights_punctual" &&
               path_[3] == "lights";
    }
    bool Value() {
        key_.clear();
        return true;
    }
    bool Number(double value) {
        if (key_ == "range" && path_.size() == 5 && !ranges.empty() && path_[4].empty()) {
            path_.pop_back();
            bool light = InLightsArray();
            path_.push_back(std::string());
            if (light) ranges.back() = static_cast<float>(value);
        }
        return Value();
    }
    bool Close() {
        if (!path_.empty()) path_.pop_back();
        key_.clear();
        return true;
    }
};

}  // namespace

std::vector<float> GltfLightRanges(const char* json, size_t size) {
    // Most files have no punctual lights: not worth a parse.
    static constexpr char kExtension[] = "KHR_lights_punctual";
    std::string_view text(json, size);
    if (text.find(kExtension) == std::string_view::npos) return {};
    LightRangeScan scan;
    // The nesting was checked before the import (NodeDepth.h); the parser itself keeps its
    // stack on the heap.
    try {
        if (!nlohmann::json::sax_parse(text.begin(), text.end(), &scan, nlohmann::json::input_format_t::json, false))
            return {};
    } catch (const std::exception&) {
        return {};
    }
    return scan.ranges;
}

}  // namespace srxconvert
