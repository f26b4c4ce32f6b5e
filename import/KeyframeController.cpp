#include "import/KeyframeController.h"

#include <d3dx9math.h>

#include <algorithm>
#include <cstring>

namespace {

// The first key pair with time(i) <= t < time(i + 1) and the position of t inside it.
// Key times are compared exactly (a uint32 tick count need not fit a float), and the
// factor is formed wide and rounded once. Returns -1 when no pair holds t.
template <typename KeyList>
int FindInterval(const KeyList& keys, size_t count, float time, float& factor) {
    double t = time;
    for (size_t i = 0; i + 1 < count; ++i) {
        double start = keys[i].time;
        double end = keys[i + 1].time;
        if (start <= t && t < end) {
            factor = static_cast<float>((t - start) / (end - start));
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

int32_t KeyframeController::ArrayLength() const { return std::max(channels_, 4); }

void KeyframeController::Init(int32_t keyCount, int32_t channels, int32_t kind) {
    keyCount_ = std::max(keyCount, 0);
    channels_ = channels;
    kind_ = kind;
    curveKeys_.assign(static_cast<size_t>(keyCount_), CurveKey{});
    for (CurveKey& key : curveKeys_) {
        key.values.assign(static_cast<size_t>(ArrayLength()), 0.0f);
        key.inTangent = key.values;
        key.outTangent = key.values;
    }
}

void KeyframeController::AppendSampledKey(const SampledTransformKey& key) { sampledKeys_.push_back(key); }

bool KeyframeController::SetCurveKey(int32_t index, uint16_t time, std::span<const float> values,
                                     std::span<const float> inTangent, std::span<const float> outTangent) {
    if (index < 0 || static_cast<size_t>(index) >= curveKeys_.size()) return false;
    CurveKey& key = curveKeys_[static_cast<size_t>(index)];
    key.time = time;
    auto fill = [](std::vector<float>& dst, std::span<const float> src) {
        std::fill(dst.begin(), dst.end(), 0.0f);
        std::copy_n(src.begin(), std::min(src.size(), dst.size()), dst.begin());
    };
    fill(key.values, values);
    fill(key.inTangent, inTangent);
    fill(key.outTangent, outTangent);
    return true;
}

void KeyframeController::Evaluate(float time, float* out) const {
    if (!out) return;
    switch (kind_) {
        case ControllerSampledTransform: EvaluateSampled(time, out); break;
        case ControllerQuaternionCurve: EvaluateQuaternionCurve(time, out); break;
        default: EvaluateGeneralCurve(time, out); break;
    }
}

void KeyframeController::EvaluateSampled(float time, float* out) const {
    size_t count = std::min(static_cast<size_t>(keyCount_), sampledKeys_.size());
    float f = 0.0f;
    int i = FindInterval(sampledKeys_, count, time, f);
    if (i < 0) return;
    const SampledTransformKey& a = sampledKeys_[static_cast<size_t>(i)];
    const SampledTransformKey& b = sampledKeys_[static_cast<size_t>(i) + 1];

    D3DXQUATERNION from(a.rotation), to(b.rotation), rotation;
    D3DXQuaternionSlerp(&rotation, &from, &to, f);
    // The transpose turns D3DX's rotation matrix of q into that of its conjugate, which is
    // how the exporter's quaternions are meant.
    D3DXMATRIX matrix;
    D3DXMatrixRotationQuaternion(&matrix, &rotation);
    D3DXMatrixTranspose(&matrix, &matrix);
    matrix._41 = a.position[0] + (b.position[0] - a.position[0]) * f;
    matrix._42 = a.position[1] + (b.position[1] - a.position[1]) * f;
    matrix._43 = a.position[2] + (b.position[2] - a.position[2]) * f;
    std::memcpy(out, &matrix._11, 16 * sizeof(float));
}

void KeyframeController::EvaluateQuaternionCurve(float time, float* out) const {
    size_t count = curveKeys_.size();
    if (count < 2) return;
    float f = 0.0f;
    int i = FindInterval(curveKeys_, count, time, f);
    if (i < 0) {
        std::copy_n(curveKeys_.back().values.begin(), 4, out);
        return;
    }
    D3DXQUATERNION from(curveKeys_[static_cast<size_t>(i)].values.data());
    D3DXQUATERNION to(curveKeys_[static_cast<size_t>(i) + 1].values.data());
    D3DXQUATERNION result;
    D3DXQuaternionSlerp(&result, &from, &to, f);
    out[0] = result.x;
    out[1] = result.y;
    out[2] = result.z;
    out[3] = result.w;
}

void KeyframeController::EvaluateGeneralCurve(float time, float* out) const {
    size_t count = curveKeys_.size();
    if (count < 2 || channels_ <= 0) return;
    size_t channels = static_cast<size_t>(channels_);
    float f = 0.0f;
    int i = FindInterval(curveKeys_, count, time, f);
    if (i < 0) {
        std::copy_n(curveKeys_.back().values.begin(), channels, out);
        return;
    }
    const CurveKey& from = curveKeys_[static_cast<size_t>(i)];
    const CurveKey& to = curveKeys_[static_cast<size_t>(i) + 1];
    float f2 = f * f;
    float f3 = f2 * f;
    float a = 3.0f * f2 - 2.0f * f3;
    float b = 1.0f - a;
    float c = f3 - 2.0f * f2 + f;
    float d = f3 - f2;
    for (size_t j = 0; j < channels; ++j)
        out[j] = b * from.values[j] + c * from.outTangent[j] + a * to.values[j] + d * to.inTangent[j];
}
