// The demo model as SRX records, written with the engine's SRX writer.
//
// Winding: the engine negates z and reverses each triangle on loading, which together keep
// a triangle's facing, and Direct3D's clockwise front faces in left-handed coordinates are
// the faces whose (v1 - v0) x (v2 - v0) points at the viewer. So the file's triangles have
// (v1 - v0) x (v2 - v0) pointing out of the solid: counter-clockwise seen from outside in
// the file's right-handed frame.
//
// Skinning: the engine applies no parent transforms, so each bone's track keys hold the
// bone's whole transform, and a bone's offset is the inverse of its bind-pose transform.
// Bones only translate along y and rotate about z, which the z negation leaves alone.
#include "DemoModel.h"

#include "DemoLayout.h"
#include "import/SrxWriter.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

namespace demo {

namespace {

void SetName(char (&field)[srx::StringFieldSize], const char* text) {
    std::memset(field, 0, sizeof(field));
    std::strncpy(field, text, sizeof(field) - 1);
}

void SetRgb(float (&rgb)[3], float r, float g, float b) {
    rgb[0] = r;
    rgb[1] = g;
    rgb[2] = b;
}

SrxMaterial MakeMaterial(const char* name, float ambient, float specular, const char* diffuseMap,
                         const char* normalMap) {
    SrxMaterial material;
    SetName(material.name, name);
    SetRgb(material.ambient, ambient, ambient, ambient);
    SetRgb(material.diffuse, 1.0f, 1.0f, 1.0f);
    SetRgb(material.specular, specular, specular, specular);
    material.mapMask = srx::MapDiffuse;
    material.maps[0] = diffuseMap;
    if (normalMap) {
        material.mapMask |= srx::MapNormal;
        material.maps[1] = normalMap;
    }
    return material;
}

void SetTranslation(float (&matrix)[16], double x, double y, double z) {
    std::memset(matrix, 0, sizeof(matrix));
    matrix[0] = matrix[5] = matrix[10] = matrix[15] = 1.0f;
    matrix[12] = static_cast<float>(x);
    matrix[13] = static_cast<float>(y);
    matrix[14] = static_cast<float>(z);
}

SrxNode MakeNode(const char* name, uint16_t id, uint16_t parent, double bindY) {
    SrxNode node;
    SetName(node.name, name);
    node.id = id;
    node.parent = parent;
    SetTranslation(node.matrix, 0.0, bindY, 0.0);
    return node;
}

double BindHeight(int bone) { return CylinderBase + BoneLength * bone; }

// The bend of joint j (j >= 1) at tick t: a travelling wave up the cylinder. The first
// bone stays upright so the base ring keeps sitting flat on the cube.
double JointAngle(int joint, uint32_t tick) {
    if (joint == 0) return 0.0;
    double phase = 2.0 * std::numbers::pi * static_cast<double>(tick % CyclePeriod) / CyclePeriod;
    return BendAmplitude * std::sin(phase - BendLag * (joint - 1));
}

// Sampled-transform keys of every bone: the global position of its joint and its
// accumulated rotation about z. The engine builds a key's matrix as the transpose of
// D3DXMatrixRotationQuaternion(q), the rotation of q's conjugate, so a turn by c about z is
// stored as the quaternion (0, 0, -sin(c / 2), cos(c / 2)).
void AddBoneTracks(std::vector<SrxNode>& bones) {
    for (SrxNode& bone : bones) {
        bone.trackFlags = srx::TrackSampledTransform;
        bone.tracks[srx::SlotSampledTransform].kind = srx::TrackKindSampledTransform;
    }
    for (int k = 0; k < KeyCount; ++k) {
        uint32_t tick = static_cast<uint32_t>(k) * KeyStep;
        double x = 0.0, y = CylinderBase, angle = 0.0;
        for (int j = 0; j < BoneCount; ++j) {
            if (j > 0) {
                x -= BoneLength * std::sin(angle);
                y += BoneLength * std::cos(angle);
            }
            angle += JointAngle(j, tick);
            SrxKey key;
            key.time = tick;
            key.values[0] = static_cast<float>(x);
            key.values[1] = static_cast<float>(y);
            key.values[6] = static_cast<float>(-std::sin(angle / 2.0));
            key.values[7] = static_cast<float>(std::cos(angle / 2.0));
            bones[static_cast<size_t>(j)].tracks[srx::SlotSampledTransform].keys.push_back(key);
        }
    }
}

void Assign(float* out, const int (&v)[3], double scale) {
    for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(v[i] * scale);
}

// One face of the cube: four corners, two triangles, and where the face lies in the
// lightmap atlas (the second texture coordinates).
void AddCubeFace(SrxPrimitive& primitive, const CubeFace& face) {
    uint16_t base = static_cast<uint16_t>(primitive.vertices.size());
    constexpr int corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};  // (s, t): right, down
    for (const auto& corner : corners) {
        SrxVertex vertex;
        double s = corner[0], t = corner[1];
        for (int i = 0; i < 3; ++i)
            vertex.position[i] = static_cast<float>(
                CubeHalf * (face.normal[i] + (2.0 * s - 1.0) * face.right[i] + (2.0 * t - 1.0) * face.down[i]));
        Assign(vertex.normal, face.normal, 1.0);
        vertex.uv0[0] = static_cast<float>(s);
        vertex.uv0[1] = static_cast<float>(t);
        double inner = face.cellSize - 2.0 * LightmapPadding;
        vertex.uv1[0] = static_cast<float>((face.cellX + LightmapPadding + s * inner) / LightmapSize);
        vertex.uv1[1] = static_cast<float>((face.cellY + LightmapPadding + t * inner) / LightmapSize);
        primitive.vertices.push_back(vertex);
    }
    // Corners 0 1 2 3 run clockwise seen from outside; the triangles run the other way.
    for (int index : {0, 2, 1, 0, 3, 2}) primitive.indices.push_back(static_cast<uint16_t>(base + index));
}

SrxMesh BuildCube() {
    SrxMesh mesh;
    mesh.node = NodeCube;
    SrxPrimitive sides, caps;
    for (int f = 0; f < 6; ++f) AddCubeFace(f < SideFaceCount ? sides : caps, CubeFaces[f]);
    sides.material = MaterialSides;
    caps.material = MaterialCaps;
    for (SrxPrimitive* primitive : {&sides, &caps}) {
        primitive->vertexCount = static_cast<uint16_t>(primitive->vertices.size());
        primitive->faceCount = static_cast<uint16_t>(primitive->indices.size() / 3);
        primitive->streamFlags =
            srx::StreamPositions | srx::StreamNormals | srx::StreamTexCoords | srx::StreamTexCoords2;
        mesh.primitives.push_back(*primitive);
    }
    return mesh;
}

// Bone weights of a point at height h above the base: a tent round the middle of each
// bone, so every joint bends over half a bone on either side and no vertex has more than
// two influences.
void SetWeights(SrxVertex& vertex, double h) {
    double position = (h - BoneLength / 2.0) / BoneLength;  // 0 at the first bone's middle
    if (position <= 0.0 || position >= BoneCount - 1) {
        vertex.influenceCount = 1;
        vertex.bones[0] = static_cast<uint8_t>(position <= 0.0 ? 0 : BoneCount - 1);
        vertex.weights[0] = 1.0f;
        return;
    }
    int lower = static_cast<int>(std::floor(position));
    double f = position - lower;
    vertex.bones[0] = static_cast<uint8_t>(lower);
    vertex.weights[0] = static_cast<float>(1.0 - f);
    vertex.influenceCount = 1;
    if (f > 0.0) {
        vertex.bones[1] = static_cast<uint8_t>(lower + 1);
        vertex.weights[1] = static_cast<float>(f);
        vertex.influenceCount = 2;
    }
}

SrxMesh BuildCylinder() {
    SrxMesh mesh;
    mesh.node = NodeCylinder;
    for (int j = 0; j < BoneCount; ++j) {
        mesh.boneNodes.push_back(NodeFirstBone + j);
        std::array<float, 16> offset{};
        offset[0] = offset[5] = offset[10] = offset[15] = 1.0f;
        offset[13] = static_cast<float>(-BindHeight(j));
        mesh.boneMatrices.push_back(offset);
    }
    SrxPrimitive primitive;
    primitive.material = MaterialCylinder;
    // The wall: rings from the base up, each with a seam vertex at u = 1. u runs to the
    // right seen from outside, v = 0 at the top.
    constexpr int ringVertices = CylinderSegments + 1;
    for (int r = 0; r < CylinderRings; ++r) {
        double h = CylinderHeight * r / (CylinderRings - 1);
        for (int s = 0; s < ringVertices; ++s) {
            double angle = 2.0 * std::numbers::pi * (s % CylinderSegments) / CylinderSegments;
            double c = std::cos(angle), sn = std::sin(angle);
            SrxVertex vertex;
            vertex.position[0] = static_cast<float>(CylinderRadius * c);
            vertex.position[1] = static_cast<float>(CylinderBase + h);
            vertex.position[2] = static_cast<float>(-CylinderRadius * sn);
            vertex.normal[0] = static_cast<float>(c);
            vertex.normal[2] = static_cast<float>(-sn);
            vertex.uv0[0] = static_cast<float>(static_cast<double>(s) / CylinderSegments);
            vertex.uv0[1] = static_cast<float>(1.0 - h / CylinderHeight);
            SetWeights(vertex, h);
            primitive.vertices.push_back(vertex);
        }
    }
    for (int r = 0; r + 1 < CylinderRings; ++r)
        for (int s = 0; s < CylinderSegments; ++s) {
            int lowerLeft = r * ringVertices + s, lowerRight = lowerLeft + 1;
            int upperLeft = lowerLeft + ringVertices, upperRight = upperLeft + 1;
            for (int index : {lowerLeft, lowerRight, upperRight, lowerLeft, upperRight, upperLeft})
                primitive.indices.push_back(static_cast<uint16_t>(index));
        }
    // The top cap, on the last bone; its texture coordinates cut a disc out of the middle
    // of the image. The base stands on the cube and is never seen.
    uint16_t centre = static_cast<uint16_t>(primitive.vertices.size());
    for (int s = -1; s < CylinderSegments; ++s) {
        double angle = 2.0 * std::numbers::pi * s / CylinderSegments;
        double c = s < 0 ? 0.0 : std::cos(angle), sn = s < 0 ? 0.0 : std::sin(angle);
        SrxVertex vertex;
        vertex.position[0] = static_cast<float>(CylinderRadius * c);
        vertex.position[1] = static_cast<float>(CylinderBase + CylinderHeight);
        vertex.position[2] = static_cast<float>(-CylinderRadius * sn);
        vertex.normal[1] = 1.0f;
        vertex.uv0[0] = static_cast<float>(0.5 + 0.375 * c);
        vertex.uv0[1] = static_cast<float>(0.5 + 0.375 * sn);
        SetWeights(vertex, CylinderHeight);
        primitive.vertices.push_back(vertex);
    }
    for (int s = 0; s < CylinderSegments; ++s)
        for (int index : {0, 1 + s, 1 + (s + 1) % CylinderSegments})
            primitive.indices.push_back(static_cast<uint16_t>(centre + index));
    primitive.vertexCount = static_cast<uint16_t>(primitive.vertices.size());
    primitive.faceCount = static_cast<uint16_t>(primitive.indices.size() / 3);
    primitive.streamFlags = srx::StreamPositions | srx::StreamNormals | srx::StreamTexCoords | srx::StreamWeights;
    mesh.primitives.push_back(primitive);
    return mesh;
}

}  // namespace

std::vector<uint8_t> BuildSceneFile() {
    SrxWriter writer;
    writer.SceneHeader();
    writer.Material(MakeMaterial("cube_sides", 0.3f, 0.15f, BricksFile, BricksNormalFile));
    writer.Material(MakeMaterial("cube_caps", 0.3f, 0.8f, PlateFile, PlateNormalFile));
    writer.Material(MakeMaterial("cylinder", 0.3f, 0.5f, TilesFile, nullptr));

    // Mesh nodes carry the identity: the geometry is in model space. None of the names
    // has a lightmap of its own, so every material finds the scene's.
    writer.Node(MakeNode("Cube", NodeCube, NoParent, 0.0));
    writer.Node(MakeNode("Cylinder", NodeCylinder, NodeCube, 0.0));
    std::vector<SrxNode> bones;
    for (int j = 0; j < BoneCount; ++j) {
        char name[16];
        std::snprintf(name, sizeof(name), "Bone%02d", j + 1);
        bones.push_back(MakeNode(name, static_cast<uint16_t>(NodeFirstBone + j),
                                 static_cast<uint16_t>(j == 0 ? NodeCylinder : NodeFirstBone + j - 1), BindHeight(j)));
    }
    AddBoneTracks(bones);
    for (const SrxNode& bone : bones) writer.Node(bone);

    writer.Mesh(BuildCube());
    writer.Mesh(BuildCylinder());
    return writer.Data();
}

}  // namespace demo
