// The vertex work ModelSource does on a triangle mesh itself instead of leaving it to
// Assimp's post-processing, whose spatial sort of every vertex took most of a large file's
// load: joining the corners that readers write out once per face, and normals for meshes
// whose file has none.
#pragma once

#include <assimp/mesh.h>

namespace srxconvert {

// Vertices equal in every attribute (position, normal, texture coordinates, colours; -0 and
// 0 as one) joined into one, by a hash table of their values in one pass: no spatial sort.
// Kept as Assimp's JoinIdenticalVertices keeps them: used vertices only, in their first
// order. Unlike Assimp's, which also takes for one the values within 1e-5 of each other
// (a triangle given twice, with the normals (0,0,1) and (1e-6,0,1), is 3 vertices there),
// only bit-equal values join here (6 vertices): corners of a file's face normals that
// differ at all stay apart. False, the mesh untouched, for what it does not handle (bones,
// tangents, morph targets): Assimp joins those.
bool JoinEqualVertices(aiMesh& mesh);

// The crease angle of GenerateNormals: faces meeting at a sharper angle (the edges of a
// machined part, a box's corners) keep their edge; a scanned or tessellated curved surface,
// whose neighbouring faces turn by far less, is smooth.
constexpr float kCreaseDegrees = 60.0f;

// Normals for a triangle mesh without them. Each corner of a face takes the sum of the unit
// normals of the faces around its position (bit-equal positions, so also across the seams
// of texture coordinates) that turn from its own face by at most creaseDegrees, each
// weighted by its angle at that position: a normal that does not depend on how the surface
// is cut into triangles. A vertex whose corners come out with different normals (it lies on
// a crease) is split into one vertex per normal, its other attributes and bone weights
// copied. Faces of zero area add nothing and take the normal of their vertex's other faces;
// a vertex with nothing but such faces gets (0,0,1): never a NaN. Where more than 512
// corners meet at one position, each takes its own face's normal (the pairwise test would
// cost their square). Large meshes are spread over threads (threads 0: the hardware's
// count, at most 4), with the same result on any count. False, the mesh untouched, for a
// mesh with morph targets, whose shapes would need the split too: Assimp smooths those.
bool GenerateNormals(aiMesh& mesh, float creaseDegrees = kCreaseDegrees, unsigned threads = 0);

// An STL file's facet normals, which give every triangle its own three corners (a million
// triangles, three million vertices), turned into the vertices the surface has: corners
// joined by bit-equal position (and colour), then normals made as GenerateNormals makes
// them. A facet normal within the crease angle of its triangle's geometric normal, as a
// writer's normals nearly always are, says nothing the geometry does not: at an edge
// sharper than the crease (a box, a machined part) the made normals are the faces' own
// again, and a curved surface that the format could only store faceted is smooth. A facet
// normal that turns further from its triangle (written against the winding, or on purpose)
// is the file's word and is kept: that face takes it in place of its geometry's, so it
// parts from neighbours that disagree and shades as the file says. False, the mesh
// untouched, when the normals differ across a face (they are a vertex's, not a facet's) or
// for what JoinEqualVertices does not handle.
bool WeldFacets(aiMesh& mesh, float creaseDegrees = kCreaseDegrees, unsigned threads = 0);

}  // namespace srxconvert
