// Direct3D 9 types, formats and enumerations (the subset Lumaret uses), with the numeric
// values of the Windows SDK.
#pragma once

#include <windows.h>

typedef DWORD D3DCOLOR;

typedef struct _D3DVECTOR {
    float x, y, z;
} D3DVECTOR;

typedef struct _D3DMATRIX {
    union {
        struct {
            float _11, _12, _13, _14;
            float _21, _22, _23, _24;
            float _31, _32, _33, _34;
            float _41, _42, _43, _44;
        };
        float m[4][4];
    };
} D3DMATRIX;
