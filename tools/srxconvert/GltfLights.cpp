#include "GltfLights.h"

#include "GltfJsonScan.h"

#include <cmath>
#include <cstring>
#include <string_view>

namespace srxconvert {

namespace {

// Follows the keys down to extensions.KHR_lights_punctual.lights[i].range.
class LightRangeScan : public GltfJsonScan {
public:
    std::vector<float> ranges;

protected:
    // A light's object: the elements of the lights array.
    void OnObject() override {
        if (InLightsArray()) ranges.push_back(std::nanf(""));
    }
    void OnNumber(double value) override {
        if (key_ == "range" && path_.size() == 5 && !ranges.empty() && path_[4].empty()) {
            path_.pop_back();
            bool light = InLightsArray();
            path_.push_back(std::string());
            if (light) ranges.back() = static_cast<float>(value);
        }
    }

private:
    bool InLightsArray() const {
        return path_.size() == 4 && path_[1] == "extensions" && path_[2] == "KHR_lights_punctual" &&
               path_[3] == "lights";
    }
};

}  // namespace

std::vector<float> GltfLightRanges(const char* json, size_t size) {
    // Most files have no punctual lights: not worth a parse.
    static constexpr char kExtension[] = "KHR_lights_punctual";
    std::string_view text(json, size);
    if (text.find(kExtension) == std::string_view::npos) return {};
    LightRangeScan scan;
    if (!RunGltfJsonScan(text, scan)) return {};
    return scan.ranges;
}

}  // namespace srxconvert
