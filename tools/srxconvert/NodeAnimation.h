// Node transforms of an Assimp scene as the engine needs them: flattened into one list
// (SRX node ids are list positions), composed into global transforms (the engine applies
// no parent transforms), and sampled over the engine's animation clock.
//
// Time mapping. The engine's clock advances 24 ticks per rendered frame and wraps to 0
// after 600. By default the chosen animation's whole duration is stretched or squeezed
// onto ticks 0..600, so one clock cycle plays it once. With a tick rate R (ticks per
// second), source second s lands on tick s * R; the part past tick 600 is never shown and
// a shorter animation holds its last pose until the clock wraps. Keys are taken every 24
// ticks (the engine evaluates no other times), at the last tick, and once more at tick 601
// with the last pose: a track's interval test excludes its final key, so without that
// extra key tick 600 would keep the pose of tick 576.
#pragma once

#include <assimp/anim.h>
#include <assimp/matrix4x4.h>
#include <assimp/scene.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace srxconvert {

constexpr uint32_t kTicksPerFrame = 24;
constexpr uint32_t kClockEnd = 600;
constexpr uint32_t kHoldTick = kClockEnd + 1;

struct NodeTable {
    std::vector<const aiNode*> nodes;             // depth first, parents before children
    std::vector<int> parent;                      // position of the parent, -1 for the root
    std::unordered_map<std::string, int> byName;  // first node of each name

    int Find(const aiString& name) const;
};

NodeTable FlattenNodes(const aiNode* root);

// Column-vector matrices, as Assimp keeps them.
class PoseSampler {
public:
    // animation may be null: every node then keeps its rest transform.
    PoseSampler(const NodeTable& table, const aiAnimation* animation);

    // Global transforms of every node at the source time (in the animation's ticks).
    void Globals(double time, std::vector<aiMatrix4x4>& out) const;
    // Nodes whose global transform follows the animation: a channel on them or on an
    // ancestor.
    const std::vector<bool>& Moving() const { return moving_; }

private:
    aiMatrix4x4 Local(size_t node, double time) const;

    const NodeTable& table_;
    std::vector<const aiNodeAnim*> channels_;
    std::vector<bool> moving_;
};

// The ticks a track is sampled at and the source time of each.
struct TickMapping {
    std::vector<uint32_t> ticks;
    std::vector<double> sourceTimes;
    uint32_t lastTick = 0;  // the last tick that follows the animation
    double seconds = 0.0;   // the animation's length in source seconds
};

// ticksPerSecond 0 fits the whole animation onto the clock. A null animation gives the
// two keys of a pose held over the whole clock.
TickMapping MapTicks(const aiAnimation* animation, double ticksPerSecond);

}  // namespace srxconvert
