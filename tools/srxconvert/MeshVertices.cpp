#include "MeshVertices.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <thread>
#include <utility>
#include <vector>

namespace srxconvert {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

uint64_t Mix(uint64_t h, float value) {
    value += 0.0f;  // -0 and 0 hash as one, as they compare
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    h = (h ^ bits) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 31);
}

uint64_t Mix(uint64_t h, const aiVector3D& v) { return Mix(Mix(Mix(h, v.x), v.y), v.z); }

// Numbers the classes of equal vertices in the order of their first vertex: class[v] for
// every vertex that take(v) admits, kNone for the others. Open addressing over the vertex
// numbers, a slot holding the first vertex of a class + 1: no allocation per vertex. The
// table holds classes, not vertices, and grows with them (at most half full): an STL
// file's corners are six to a class, and a table sized for every vertex weighed 32 MB on
// a million triangles.
template <class Take, class Hash, class Equal>
uint32_t NumberClasses(uint32_t count, Take take, Hash hash, Equal equal, std::vector<uint32_t>& classes) {
    size_t size = 1;
    while (size < 2 * std::max<size_t>(1024, count / 8)) size <<= 1;
    std::vector<uint32_t> slots(size, 0);
    size_t mask = size - 1;
    classes.assign(count, kNone);
    uint32_t numbered = 0;
    for (uint32_t v = 0; v < count; ++v) {
        if (!take(v)) continue;
        size_t at = hash(v) & mask;
        while (slots[at] && !equal(slots[at] - 1, v)) at = (at + 1) & mask;
        if (slots[at]) {
            classes[v] = classes[slots[at] - 1];
            continue;
        }
        slots[at] = v + 1;
        classes[v] = numbered++;
        if (2 * size_t(numbered) <= mask) continue;
        std::vector<uint32_t> grown(2 * (mask + 1), 0);
        mask = grown.size() - 1;
        for (uint32_t first : slots) {
            if (!first) continue;
            size_t to = hash(first - 1) & mask;
            while (grown[to]) to = (to + 1) & mask;
            grown[to] = first;
        }
        slots.swap(grown);
    }
    return numbered;
}

bool IsTriangle(const aiFace& face, uint32_t count) {
    return face.mNumIndices == 3 && face.mIndices && face.mIndices[0] < count && face.mIndices[1] < count &&
           face.mIndices[2] < count;
}

// body(begin, end) over [0, count) in as many slices as threads, the last on this thread.
template <class Body>
void ParallelFor(size_t count, unsigned threads, Body body) {
    // Below this a thread's start costs more than the slice it would take.
    constexpr size_t kSliceLeast = 1 << 14;
    threads = std::max(1u, std::min<unsigned>(threads, unsigned(count / kSliceLeast)));
    std::vector<std::thread> workers;
    size_t begin = 0;
    for (unsigned t = 1; t < threads; ++t) {
        size_t end = count * t / threads;
        workers.emplace_back(body, begin, end);
        begin = end;
    }
    body(begin, count);
    for (std::thread& worker : workers) worker.join();
}

// v at unit length, worked out in double so that a sum of tiny (denormal) weights still
// comes out unit long; false for a zero or non-finite v.
bool Normalize(const aiVector3D& v, aiVector3D& out) {
    double x = v.x, y = v.y, z = v.z, length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0) || !std::isfinite(length)) return false;
    out = aiVector3D(float(x / length), float(y / length), float(z / length));
    return true;
}

// The unit normal of the triangle whose edges are e (e[k] from corner k to the next), the
// front being where its corners turn counter-clockwise, and the length of the cross
// product; (0,0,0) for a face of zero area or one too small or too large for a float normal.
aiVector3D UnitNormal(const double (&e)[3][3], double& length) {
    double n[3] = {e[0][1] * e[2][2] - e[0][2] * e[2][1], e[0][2] * e[2][0] - e[0][0] * e[2][2],
                   e[0][0] * e[2][1] - e[0][1] * e[2][0]};
    // e[0] x e[2] points against the front: (b - a) x (c - a) = -(e0 x e2)
    length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0.0) || !std::isfinite(length)) return aiVector3D(0.0f);
    aiVector3D unit(float(-n[0] / length), float(-n[1] / length), float(-n[2] / length));
    if (!std::isfinite(unit.x) || !std::isfinite(unit.y) || !std::isfinite(unit.z)) return aiVector3D(0.0f);
    return unit;
}

// The edges of triangle (a, b, c) in double, as UnitNormal takes them.
void Edges(const aiVector3D* const (&p)[3], double (&e)[3][3]) {
    for (int k = 0; k < 3; ++k) {
        const aiVector3D &from = *p[k], &to = *p[(k + 1) % 3];
        e[k][0] = double(to.x) - from.x;
        e[k][1] = double(to.y) - from.y;
        e[k][2] = double(to.z) - from.z;
    }
}

// The same array, count + copies.size() long: the copies repeat the vertices they name.
template <class T>
void Extend(T*& array, uint32_t count, const std::vector<uint32_t>& copies) {
    if (!array) return;
    T* grown = new T[count + copies.size()];
    std::copy(array, array + count, grown);
    for (size_t i = 0; i < copies.size(); ++i) grown[count + i] = array[copies[i]];
    delete[] array;
    array = grown;
}

}  // namespace

bool JoinEqualVertices(aiMesh& mesh) {
    if (mesh.HasBones() || mesh.mTangents || mesh.mNumAnimMeshes || !mesh.mVertices || !mesh.mFaces) return false;
    std::vector<aiVector3D*> vectors{mesh.mVertices};
    if (mesh.mNormals) vectors.push_back(mesh.mNormals);
    for (aiVector3D* coords : mesh.mTextureCoords)
        if (coords) vectors.push_back(coords);
    std::vector<aiColor4D*> colors;
    for (aiColor4D* set : mesh.mColors)
        if (set) colors.push_back(set);
    const uint32_t count = mesh.mNumVertices;
    std::vector<bool> used(count);
    for (unsigned f = 0; f < mesh.mNumFaces; ++f)
        for (unsigned i = 0; i < mesh.mFaces[f].mNumIndices && mesh.mFaces[f].mIndices; ++i)
            if (mesh.mFaces[f].mIndices[i] < count) used[mesh.mFaces[f].mIndices[i]] = true;
    // Read from the mesh's own arrays, not a copy of its rows: on a large file that copy
    // weighed as much as the vertices.
    auto hash = [&](uint32_t v) {
        uint64_t h = 0xcbf29ce484222325ull;
        for (const aiVector3D* array : vectors) h = Mix(h, array[v]);
        for (const aiColor4D* array : colors) h = Mix(Mix(Mix(Mix(h, array[v].r), array[v].g), array[v].b), array[v].a);
        return h;
    };
    auto equal = [&](uint32_t a, uint32_t b) {
        for (const aiVector3D* array : vectors)
            if (!(array[a].x == array[b].x && array[a].y == array[b].y && array[a].z == array[b].z)) return false;
        for (const aiColor4D* array : colors)
            if (!(array[a].r == array[b].r && array[a].g == array[b].g && array[a].b == array[b].b &&
                  array[a].a == array[b].a))
                return false;
        return true;
    };
    std::vector<uint32_t> joined;
    uint32_t kept = NumberClasses(
        count, [&](uint32_t v) { return bool(used[v]); }, hash, equal, joined);
    // Moved down in place: a class is numbered at its first vertex, which never lies past it.
    for (uint32_t v = 0, next = 0; v < count; ++v) {
        if (joined[v] != next) continue;
        for (aiVector3D* array : vectors) array[next] = array[v];
        for (aiColor4D* array : colors) array[next] = array[v];
        ++next;
    }
    for (unsigned f = 0; f < mesh.mNumFaces; ++f)
        for (unsigned i = 0; i < mesh.mFaces[f].mNumIndices && mesh.mFaces[f].mIndices; ++i)
            if (mesh.mFaces[f].mIndices[i] < count) mesh.mFaces[f].mIndices[i] = joined[mesh.mFaces[f].mIndices[i]];
    mesh.mNumVertices = kept;  // the arrays keep their size for delete[]
    return true;
}

namespace {

// A face's normal that stands in place of its geometry's, by face number.
using KeptNormals = std::vector<std::pair<unsigned, aiVector3D>>;

// GenerateNormals, with the faces that kept (sorted by face) names taking its normal in
// place of their geometry's.
bool Generate(aiMesh& mesh, float creaseDegrees, unsigned threads, const KeptNormals& kept) {
    if (mesh.mNumAnimMeshes || !mesh.mVertices) return false;
    if (threads == 0) threads = std::min(4u, std::max(1u, std::thread::hardware_concurrency()));
    const uint32_t count = mesh.mNumVertices;
    const aiVector3D* positions = mesh.mVertices;
    // The faces that are triangles on valid indices: every face as a rule, listed only
    // when some are not.
    size_t triangleCount = 0;
    for (unsigned f = 0; f < mesh.mNumFaces && mesh.mFaces; ++f) triangleCount += IsTriangle(mesh.mFaces[f], count);
    std::vector<uint32_t> triangles;
    if (triangleCount != mesh.mNumFaces) {
        triangles.reserve(triangleCount);
        for (unsigned f = 0; f < mesh.mNumFaces && mesh.mFaces; ++f)
            if (IsTriangle(mesh.mFaces[f], count)) triangles.push_back(f);
    }
    auto faceOf = [&](size_t t) -> aiFace& { return mesh.mFaces[triangles.empty() ? t : triangles[t]]; };
    const size_t corners = 3 * triangleCount;
    auto vertexOf = [&](size_t corner) { return faceOf(corner / 3).mIndices[corner % 3]; };

    // Corners meet at bit-equal positions, whichever vertex they name.
    std::vector<uint32_t> place;
    const uint32_t places = NumberClasses(
        count, [](uint32_t) { return true; }, [&](uint32_t v) { return Mix(0, positions[v]); },
        [&](uint32_t a, uint32_t b) { return positions[a] == positions[b]; }, place);

    // Each face's unit normal and each corner's angle. In double: a cross product of float
    // edges neither overflows nor underflows there, and a face too small or too large for
    // a normal is one of zero area.
    std::vector<aiVector3D> faceNormal(triangleCount);
    std::vector<float> angle(corners);
    ParallelFor(triangleCount, threads, [&](size_t begin, size_t end) {
        for (size_t t = begin; t < end; ++t) {
            const unsigned* index = faceOf(t).mIndices;
            double e[3][3];  // e[k]: from corner k to the next
            Edges({&positions[index[0]], &positions[index[1]], &positions[index[2]]}, e);
            double length = 0.0;
            aiVector3D unit = UnitNormal(e, length);
            faceNormal[t] = unit;
            if (!kept.empty() && unit != aiVector3D(0.0f)) {
                unsigned face = unsigned(triangles.empty() ? t : triangles[t]);
                auto found = std::lower_bound(kept.begin(), kept.end(), face,
                                              [](const auto& entry, unsigned f) { return entry.first < f; });
                if (found != kept.end() && found->first == face) faceNormal[t] = found->second;
            }
            for (int k = 0; k < 3; ++k) {
                // The angle between the edges leaving corner k: to the next corner, and
                // (reversed) from the one before.
                const double* out = e[k];
                const double* in = e[(k + 2) % 3];
                double dot = -(out[0] * in[0] + out[1] * in[1] + out[2] * in[2]);
                angle[3 * t + k] = unit == aiVector3D(0.0f) ? 0.0f : float(std::atan2(length, dot));
            }
        }
    });

    // The corners at each position, in corner order.
    std::vector<uint32_t> first(size_t(places) + 1, 0), byPlace(corners);
    for (size_t c = 0; c < corners; ++c) ++first[place[vertexOf(c)] + 1];
    for (uint32_t p = 0; p < places; ++p) first[p + 1] += first[p];
    {
        std::vector<uint32_t> fill(first.begin(), first.end() - 1);
        for (size_t c = 0; c < corners; ++c) byPlace[fill[place[vertexOf(c)]]++] = uint32_t(c);
    }
    std::vector<uint32_t>().swap(place);  // the peak of a large mesh's load comes next

    // Each corner's normal: the sum over its position in the one order of byPlace, so the
    // corners on one side of a crease come out bit-equal and share a vertex. Where more
    // than kCrowded corners meet (the tip of a fan of thousands of faces) each takes its own
    // face's normal instead, as the test of every pair there would cost their square.
    constexpr uint32_t kCrowded = 512;
    const float cosCrease = std::cos(creaseDegrees * std::numbers::pi_v<float> / 180.0f);
    auto cornerNormal = [&](uint32_t p, uint32_t c) {
        const aiVector3D& own = faceNormal[c / 3];
        if (first[p + 1] - first[p] > kCrowded) return own;
        aiVector3D sum(0.0f);
        for (uint32_t j = first[p]; j < first[p + 1]; ++j) {
            const aiVector3D& other = faceNormal[byPlace[j] / 3];
            if (other != aiVector3D(0.0f) && own * other >= cosCrease) sum += angle[byPlace[j]] * other;
        }
        aiVector3D n = own;
        Normalize(sum, n);
        return n;
    };
    // Where every face at a place lies within half the crease angle of their mean, every
    // pair lies within the crease angle and every corner's sum is the same one, the whole
    // place's in the same order: found once, not once per corner. Most places of a curved
    // surface are such.
    const float cosHalfCrease = std::cos(creaseDegrees * std::numbers::pi_v<float> / 360.0f);
    auto smoothPlace = [&](uint32_t p, aiVector3D& n) {
        if (first[p + 1] - first[p] > kCrowded) return false;
        aiVector3D sum(0.0f);
        for (uint32_t j = first[p]; j < first[p + 1]; ++j) sum += angle[byPlace[j]] * faceNormal[byPlace[j] / 3];
        if (!Normalize(sum, n)) return false;
        for (uint32_t j = first[p]; j < first[p + 1]; ++j) {
            const aiVector3D& own = faceNormal[byPlace[j] / 3];
            if (own != aiVector3D(0.0f) && own * n < cosHalfCrease) return false;
        }
        return true;
    };
    // The vertices of a place: its corners of faces with area sorted by vertex and normal,
    // each run of one vertex and one normal a vertex of the mesh: the vertex itself for its
    // first run, a copy for each further one. Corners of faces of zero area take the vertex
    // as it is, and where no other face gives it a normal, the sum of every face at the
    // place, or (0,0,1). Two passes over the places, each spread over the threads, the same
    // for every place in both: the first counts the copies, the second numbers them after
    // the copies of the places before, so the mesh comes out the same on any thread count.
    struct Corner {
        uint32_t vertex;
        aiVector3D normal;
        uint32_t corner;
    };
    auto sameVertex = [](const Corner& a, const Corner& b) {
        return a.vertex == b.vertex && std::memcmp(&a.normal, &b.normal, sizeof a.normal) == 0;
    };
    auto settle = [&](uint32_t p, std::vector<Corner>& sorted) {
        sorted.clear();
        aiVector3D whole;
        bool smooth = smoothPlace(p, whole);
        for (uint32_t i = first[p]; i < first[p + 1]; ++i) {
            uint32_t c = byPlace[i];
            if (faceNormal[c / 3] != aiVector3D(0.0f))
                sorted.push_back({vertexOf(c), smooth ? whole : cornerNormal(p, c), c});
        }
        std::sort(sorted.begin(), sorted.end(), [](const Corner& a, const Corner& b) {
            if (a.vertex != b.vertex) return a.vertex < b.vertex;
            int order = std::memcmp(&a.normal, &b.normal, sizeof a.normal);
            return order != 0 ? order < 0 : a.corner < b.corner;
        });
    };
    std::vector<uint32_t> placeCopies(size_t(places) + 1, 0);
    ParallelFor(places, threads, [&](size_t begin, size_t end) {
        std::vector<Corner> sorted;
        for (size_t p = begin; p < end; ++p) {
            settle(uint32_t(p), sorted);
            for (size_t i = 1; i < sorted.size(); ++i)
                if (sorted[i].vertex == sorted[i - 1].vertex && !sameVertex(sorted[i], sorted[i - 1]))
                    ++placeCopies[p + 1];
        }
    });
    for (uint32_t p = 0; p < places; ++p) placeCopies[p + 1] += placeCopies[p];
    std::vector<uint32_t> copies(placeCopies[places]);  // the vertex each copy repeats
    aiVector3D* normals = new aiVector3D[count + copies.size()];
    delete[] mesh.mNormals;  // file normals all 0, or none
    mesh.mNormals = normals;
    ParallelFor(places, threads, [&](size_t begin, size_t end) {
        std::vector<Corner> sorted;
        for (size_t p = begin; p < end; ++p) {
            settle(uint32_t(p), sorted);
            uint32_t next = count + placeCopies[p], index = 0;
            for (size_t i = 0; i < sorted.size(); ++i) {
                const Corner& c = sorted[i];
                if (i == 0 || c.vertex != sorted[i - 1].vertex) {
                    index = c.vertex;
                    normals[index] = c.normal;
                } else if (!sameVertex(c, sorted[i - 1])) {
                    index = next++;
                    copies[index - count] = c.vertex;
                    normals[index] = c.normal;
                }
                faceOf(c.corner / 3).mIndices[c.corner % 3] = index;
            }
            for (uint32_t i = first[p]; i < first[p + 1]; ++i) {
                uint32_t c = byPlace[i];
                uint32_t v = vertexOf(c);
                if (faceNormal[c / 3] != aiVector3D(0.0f) || normals[v] != aiVector3D(0.0f)) continue;
                aiVector3D sum(0.0f);
                for (uint32_t j = first[p]; j < first[p + 1]; ++j)
                    sum += angle[byPlace[j]] * faceNormal[byPlace[j] / 3];
                normals[v] = aiVector3D(0.0f, 0.0f, 1.0f);
                Normalize(sum, normals[v]);
            }
        }
    });
    // Vertices no triangle names.
    for (uint32_t v = 0; v < count; ++v)
        if (normals[v] == aiVector3D(0.0f)) normals[v] = aiVector3D(0.0f, 0.0f, 1.0f);

    if (!copies.empty()) {
        Extend(mesh.mVertices, count, copies);
        for (aiVector3D*& coords : mesh.mTextureCoords) Extend(coords, count, copies);
        for (aiColor4D*& set : mesh.mColors) Extend(set, count, copies);
        Extend(mesh.mTangents, count, copies);
        Extend(mesh.mBitangents, count, copies);
        // Each copy is weighted to the bones of its vertex.
        std::vector<std::pair<uint32_t, uint32_t>> copiesOf;  // (vertex, copy), by vertex
        for (uint32_t i = 0; i < copies.size() && mesh.mNumBones; ++i) copiesOf.emplace_back(copies[i], count + i);
        std::sort(copiesOf.begin(), copiesOf.end());
        for (unsigned b = 0; b < mesh.mNumBones && mesh.mBones; ++b) {
            aiBone& bone = *mesh.mBones[b];
            if (!bone.mWeights) continue;
            std::vector<aiVertexWeight> weights(bone.mWeights, bone.mWeights + bone.mNumWeights);
            for (unsigned w = 0; w < bone.mNumWeights; ++w) {
                auto from = std::lower_bound(copiesOf.begin(), copiesOf.end(),
                                             std::make_pair(bone.mWeights[w].mVertexId, uint32_t(0)));
                for (; from != copiesOf.end() && from->first == bone.mWeights[w].mVertexId; ++from)
                    weights.emplace_back(from->second, bone.mWeights[w].mWeight);
            }
            if (weights.size() == bone.mNumWeights) continue;
            delete[] bone.mWeights;
            bone.mWeights = new aiVertexWeight[weights.size()];
            std::copy(weights.begin(), weights.end(), bone.mWeights);
            bone.mNumWeights = unsigned(weights.size());
        }
    }
    mesh.mNumVertices = count + uint32_t(copies.size());
    return true;
}

}  // namespace

bool GenerateNormals(aiMesh& mesh, float creaseDegrees, unsigned threads) {
    return Generate(mesh, creaseDegrees, threads, {});
}

bool WeldFacets(aiMesh& mesh, float creaseDegrees, unsigned threads) {
    if (!mesh.mNormals || mesh.HasBones() || mesh.mTangents || mesh.mNumAnimMeshes || !mesh.mVertices || !mesh.mFaces)
        return false;
    const uint32_t count = mesh.mNumVertices;
    const aiVector3D* normals = mesh.mNormals;
    const float cosCrease = std::cos(creaseDegrees * std::numbers::pi_v<float> / 180.0f);
    KeptNormals kept;  // nearly always empty
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if (!IsTriangle(face, count)) continue;
        const unsigned* index = face.mIndices;
        const aiVector3D& file = normals[index[0]];
        // Normals that differ across a face are a vertex's own, not a facet's.
        if (normals[index[1]] != file || normals[index[2]] != file) return false;
        double e[3][3], length;
        Edges({&mesh.mVertices[index[0]], &mesh.mVertices[index[1]], &mesh.mVertices[index[2]]}, e);
        aiVector3D geometric = UnitNormal(e, length), unit;
        if (geometric != aiVector3D(0.0f) && Normalize(file, unit) && unit * geometric < cosCrease)
            kept.emplace_back(f, unit);
    }
    delete[] mesh.mNormals;
    mesh.mNormals = nullptr;
    JoinEqualVertices(mesh);
    return Generate(mesh, creaseDegrees, threads, kept);
}

}  // namespace srxconvert
