// TrackController: the interface of animation controllers, which turn an animation time
// into values written to caller-provided storage.
//
// Owners hold controllers through this base and delete them through it. What a controller
// writes, and how many floats, is up to the concrete class (KeyframeController.h).
#pragma once

class TrackController {
public:
    virtual ~TrackController() = default;
    // Writes the value at time (in animation ticks) into out. Where the controller has no
    // value for that time, out keeps its previous contents.
    virtual void Evaluate(float time, float* out) const = 0;
};
