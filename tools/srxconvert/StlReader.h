// The tools' own reader of ASCII STL files: `solid NAME`, then facets of `facet normal
// NX NY NZ`, `outer loop`, three `vertex X Y Z`, `endloop`, `endfacet`, to `endsolid`, one
// mesh under a node of its own per solid, each triangle's corners apart with the facet's
// normal, as Assimp's reader gives them and WeldFacets takes them (binary STL reads the
// same way through Assimp).
//
// Left to Assimp (NotMine): a file whose size is that of a binary STL of the facet count
// at byte 80 (Assimp takes it for binary, whatever it starts with), one that does not
// start with `solid` or holds bytes beyond ASCII in its first 500, a facet without `normal`
// or with a vertex past its third (Assimp passes over it), a solid without facets.
#pragma once

#include "OwnReaders.h"

namespace srxconvert {

// Refused, with a one-line error, for a facet of fewer than three vertices or a number
// that does not read as one.
OwnRead ReadAsciiStl(FILE* file, uint64_t bytes, OwnScene& out, std::string& error);

}  // namespace srxconvert
