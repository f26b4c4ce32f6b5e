// The tools' own reader of PLY files (ascii, binary_little_endian, binary_big_endian): the
// vertex element's x, y, z, nx, ny, nz, red, green, blue, alpha (and r, g, b) and texture
// coordinates (u/v, s/t, tx/ty, texture_u/texture_v), the face element's vertex_indices
// (or vertex_index) list of any count and index type, its quads split into two triangles
// (a concave quad at its concave corner, as Assimp splits it).
// Other elements and properties are passed over by their declared sizes (binary) or their
// tokens (ascii). Before any array is made, each element's count is checked against the
// bytes left in the file, so a header that claims more than the file holds is refused
// without the allocation it asks for.
//
// Left to Assimp (NotMine), which reads them as before: a header this reader does not
// follow, point clouds and faces of one or two corners (read as points and lines there),
// polygons of five corners or more (which Assimp cuts along their outline, concave or not),
// `material` and `tristrips` elements, a `comment TextureFile`, faces with texcoord lists,
// colours of signed or 32-bit integer types (Assimp scales those in ways of its own).
#pragma once

#include "OwnReaders.h"

namespace srxconvert {

// Reads the PLY file at `file` (bytes long, positioned at its start) into out. Refused,
// with a one-line error, for data that ends early, a token that is not a number, a face
// naming a vertex the file does not have, or counts the file's size cannot hold.
OwnRead ReadPly(FILE* file, uint64_t bytes, OwnScene& out, std::string& error);

}  // namespace srxconvert
