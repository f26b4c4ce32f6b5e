#include "LightConversion.h"

#include "import/SrxFormat.h"

#include <algorithm>
#include <cmath>

namespace srxconvert {

namespace {

bool Finite(const aiVector3D& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
bool Finite(const aiColor3D& c) { return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b); }

void Store(const aiVector3D& v, float (&out)[3]) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

}  // namespace

float AttenuationRange(float constant, float linear, float quadratic, float intensity) {
    if (!(quadratic > 0.0f) && !(linear > 0.0f)) return 0.0f;
    double target = 255.0 * intensity - std::max(constant, 0.0f);
    if (!(target > 0.0)) return -1.0f;  // fainter than 1/255 everywhere
    double q = std::max(quadratic, 0.0f), l = std::max(linear, 0.0f);
    double d = q > 0.0 ? (-l + std::sqrt(l * l + 4.0 * q * target)) / (2.0 * q) : target / l;
    return std::isfinite(d) ? static_cast<float>(d) : 0.0f;
}

std::vector<SrxLight> ConvertLights(const aiScene& scene, const NodeTable& table,
                                    const std::vector<aiMatrix4x4>& engineGlobals, float scale,
                                    const std::vector<float>& fileRanges, std::vector<std::string>& warnings) {
    std::vector<SrxLight> lights;
    size_t unsupported = 0, broken = 0, faint = 0, beyond = 0;
    for (unsigned i = 0; i < scene.mNumLights && scene.mLights; ++i) {
        const aiLight* source = scene.mLights[i];
        if (!source) continue;
        uint16_t kind = 0;
        switch (source->mType) {
            case aiLightSource_POINT: kind = srx::LightKindPoint; break;
            case aiLightSource_SPOT: kind = srx::LightKindSpot; break;
            case aiLightSource_DIRECTIONAL: kind = srx::LightKindDirectional; break;
            default: ++unsupported; continue;
        }
        if (lights.size() >= kMaxLights) {
            ++beyond;
            continue;
        }
        // The light hangs from the node of its name (every format Assimp reads names it so);
        // without one it stands in the scene's root frame.
        int node = table.Find(source->mName);
        aiMatrix4x4 global;
        if (node >= 0 && static_cast<size_t>(node) < engineGlobals.size())
            global = engineGlobals[static_cast<size_t>(node)];
        else
            aiMatrix4x4::Scaling(aiVector3D(scale), global);
        aiVector3D position = global * aiVector3D(source->mPosition.x, source->mPosition.y, -source->mPosition.z);
        aiVector3D direction =
            aiMatrix3x3(global) * aiVector3D(source->mDirection.x, source->mDirection.y, -source->mDirection.z);
        // Ranges scale with the frame: the longest axis of the node's transform.
        aiMatrix3x3 axes(global);
        float frameScale = std::max({aiVector3D(axes.a1, axes.b1, axes.c1).Length(),
                                     aiVector3D(axes.a2, axes.b2, axes.c2).Length(),
                                     aiVector3D(axes.a3, axes.b3, axes.c3).Length()});
        aiColor3D color = source->mColorDiffuse;
        if (!Finite(position) || !Finite(color) || !std::isfinite(frameScale) ||
            (kind != srx::LightKindPoint && !(Finite(direction) && direction.SquareLength() > 0.0f))) {
            ++broken;
            continue;
        }
        color = aiColor3D(std::max(color.r, 0.0f), std::max(color.g, 0.0f), std::max(color.b, 0.0f));
        float intensity = std::max({color.r, color.g, color.b});
        float range = 0.0f;
        if (kind != srx::LightKindDirectional) {
            float stated = i < fileRanges.size() ? fileRanges[i] : std::nanf("");
            range = std::isfinite(stated) && stated > 0.0f
                        ? stated
                        : AttenuationRange(source->mAttenuationConstant, source->mAttenuationLinear,
                                           source->mAttenuationQuadratic, intensity);
            if (range < 0.0f || intensity <= 0.0f) {
                ++faint;
                continue;
            }
            range *= frameScale;
            if (!std::isfinite(range)) range = 0.0f;
        }
        if (direction.SquareLength() > 0.0f) direction.Normalize();
        SrxLight& light = lights.emplace_back();
        light.node = node >= 0 ? static_cast<uint16_t>(node) : 0;
        light.kind = kind;
        Store(position, light.position);
        Store(direction, light.direction);
        light.color[0] = color.r;
        light.color[1] = color.g;
        light.color[2] = color.b;
        light.range = range;
        float inner = std::isfinite(source->mAngleInnerCone) ? source->mAngleInnerCone : 0.0f;
        float outer = std::isfinite(source->mAngleOuterCone) ? source->mAngleOuterCone : 0.0f;
        // Point lights are given full circles; cones beyond a half turn are none.
        light.outerCone = std::clamp(outer, 0.0f, 3.14159265f);
        light.innerCone = std::clamp(inner, 0.0f, light.outerCone);
    }
    if (unsupported) warnings.push_back(std::to_string(unsupported) + " ambient or area lights are not drawn");
    if (broken) warnings.push_back(std::to_string(broken) + " lights dropped: their values are not finite");
    if (faint) warnings.push_back(std::to_string(faint) + " lights dropped: they are too faint to show");
    if (beyond)
        warnings.push_back(std::to_string(beyond) + " lights beyond the first " + std::to_string(kMaxLights) +
                           " are not drawn");
    return lights;
}

}  // namespace srxconvert
