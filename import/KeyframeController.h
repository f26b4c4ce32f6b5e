// KeyframeController: evaluates one animation track for any time.
//
// Three kinds: a sampled transform (whole position and rotation per key, giving a 4 x 4
// node matrix), a quaternion curve (slerp between 4-float keys) and a general curve
// (cubic Hermite per channel). The scene build fills only sampled-transform controllers
// from imported tracks; curve keys have no source in the engine yet and are set through
// SetCurveKey. Evaluation allocates nothing and scans the keys from the first on every
// call, so it is stateless and repeatable.
#pragma once

#include "import/TrackController.h"

#include <cstdint>
#include <span>
#include <vector>

// Kinds of KeyframeController; any other value is a general curve. The curve kinds are
// kept for the file format's keyed tracks; the scene build makes only sampled-transform
// controllers, so no drawn node is animated by a curve.
enum ControllerKind : int32_t {
    ControllerQuaternionCurve = 1,
    ControllerSampledTransform = 2,
};

struct SampledTransformKey {
    uint32_t time = 0;         // animation ticks
    float position[3] = {};    // x, y, z
    float rotation[4] = {};    // unit quaternion x, y, z, w
};

struct CurveKey {
    std::vector<float> values;  // the key's value per channel
    uint16_t time = 0;          // animation ticks
    float params[5] = {};       // kept, not used by Evaluate
    std::vector<float> inTangent;   // used when the key ends an interval
    std::vector<float> outTangent;  // used when the key starts an interval
};

class KeyframeController : public TrackController {
public:
    KeyframeController() = default;

    // Sets the key count, channels and kind, and creates keyCount curve keys whose arrays
    // hold zeros (at least four floats, so a quaternion curve never reads past them).
    void Init(int32_t keyCount, int32_t channels, int32_t kind);
    void AppendSampledKey(const SampledTransformKey& key);
    // Fills curve key index with a time and the first floats of each array; floats not
    // given stay zero and extra ones are ignored. False for an index out of range.
    bool SetCurveKey(int32_t index, uint16_t time, std::span<const float> values, std::span<const float> inTangent,
                     std::span<const float> outTangent);

    // Sampled transform: 16 floats (a row-vector matrix _11 .. _44), nothing outside the
    // keys' time range. Quaternion curve: 4 floats, the last key's outside the range.
    // General curve: channels floats, the last key's outside the range. Fewer than two
    // keys write nothing.
    void Evaluate(float time, float* out) const override;

    int32_t Channels() const { return channels_; }
    int32_t Kind() const { return kind_; }
    int32_t KeyCount() const { return keyCount_; }
    const std::vector<CurveKey>& CurveKeys() const { return curveKeys_; }
    const std::vector<SampledTransformKey>& SampledKeys() const { return sampledKeys_; }

private:
    int32_t ArrayLength() const;
    void EvaluateSampled(float time, float* out) const;
    void EvaluateQuaternionCurve(float time, float* out) const;
    void EvaluateGeneralCurve(float time, float* out) const;

    int32_t channels_ = 1;
    int32_t kind_ = 0;
    int32_t keyCount_ = 0;
    std::vector<CurveKey> curveKeys_;
    std::vector<SampledTransformKey> sampledKeys_;
};
