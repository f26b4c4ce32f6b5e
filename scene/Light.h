// Light: a point light the application owns and registers with the World by pointer.
// The pipeline reads its position and colour; the two further values are kept for
// lights of other kinds and not read.
#pragma once

#include <d3dx9.h>

struct Light {
    D3DXVECTOR3 position{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 color{1.0f, 1.0f, 1.0f};  // red, green, blue
    float range = 100.0f;
    float reserved = 0.0f;  // kept for the record's interface; nothing reads it
};
