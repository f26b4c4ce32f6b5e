// D3DX 9, the subset Lumaret uses: shader compilation and constant tables, image loading,
// and the matrix, vector and quaternion functions.
#pragma once

#include <d3d9.h>

#include <d3dx9shader.h>
// The math and image parts land separately.
#if __has_include(<d3dx9math.h>)
#include <d3dx9math.h>
#endif
#if __has_include(<d3dx9tex.h>)
#include <d3dx9tex.h>
#endif
