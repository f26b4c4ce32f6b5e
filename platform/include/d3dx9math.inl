// d3dx9math.inl: the small vector operations, inline as in the SDK's header of the same
// name, so that loops over many vertices pay for no calls.
#pragma once

#include <cmath>

inline D3DXVECTOR3::D3DXVECTOR3(const FLOAT* xyz) {
    x = xyz ? xyz[0] : 0.0f;
    y = xyz ? xyz[1] : 0.0f;
    z = xyz ? xyz[2] : 0.0f;
}
inline D3DXVECTOR3::D3DXVECTOR3(const D3DVECTOR& v) : D3DVECTOR(v) {}
inline D3DXVECTOR3::D3DXVECTOR3(FLOAT x_, FLOAT y_, FLOAT z_) {
    x = x_;
    y = y_;
    z = z_;
}
inline D3DXVECTOR3::operator FLOAT*() { return &x; }
inline D3DXVECTOR3::operator const FLOAT*() const { return &x; }
inline D3DXVECTOR3& D3DXVECTOR3::operator+=(const D3DXVECTOR3& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    return *this;
}
inline D3DXVECTOR3& D3DXVECTOR3::operator-=(const D3DXVECTOR3& v) {
    x -= v.x;
    y -= v.y;
    z -= v.z;
    return *this;
}
inline D3DXVECTOR3& D3DXVECTOR3::operator*=(FLOAT s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
}
inline D3DXVECTOR3& D3DXVECTOR3::operator/=(FLOAT s) {
    x /= s;
    y /= s;
    z /= s;
    return *this;
}
inline D3DXVECTOR3 D3DXVECTOR3::operator+() const { return *this; }
inline D3DXVECTOR3 D3DXVECTOR3::operator-() const { return D3DXVECTOR3(-x, -y, -z); }
inline D3DXVECTOR3 D3DXVECTOR3::operator+(const D3DXVECTOR3& v) const { return D3DXVECTOR3(x + v.x, y + v.y, z + v.z); }
inline D3DXVECTOR3 D3DXVECTOR3::operator-(const D3DXVECTOR3& v) const { return D3DXVECTOR3(x - v.x, y - v.y, z - v.z); }
inline D3DXVECTOR3 D3DXVECTOR3::operator*(FLOAT s) const { return D3DXVECTOR3(x * s, y * s, z * s); }
inline D3DXVECTOR3 D3DXVECTOR3::operator/(FLOAT s) const { return D3DXVECTOR3(x / s, y / s, z / s); }
inline D3DXVECTOR3 operator*(FLOAT s, const D3DXVECTOR3& v) { return v * s; }
inline BOOL D3DXVECTOR3::operator==(const D3DXVECTOR3& v) const { return x == v.x && y == v.y && z == v.z; }
inline BOOL D3DXVECTOR3::operator!=(const D3DXVECTOR3& v) const { return !(*this == v); }

inline FLOAT WINAPI D3DXVec3Dot(const D3DXVECTOR3* v1, const D3DXVECTOR3* v2) {
    return v1->x * v2->x + v1->y * v2->y + v1->z * v2->z;
}

inline D3DXVECTOR3* WINAPI D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* v1, const D3DXVECTOR3* v2) {
    D3DXVECTOR3 cross(v1->y * v2->z - v1->z * v2->y, v1->z * v2->x - v1->x * v2->z, v1->x * v2->y - v1->y * v2->x);
    *out = cross;
    return out;
}

inline FLOAT WINAPI D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z); }
inline FLOAT WINAPI D3DXVec3LengthSq(const D3DXVECTOR3* v) { return v->x * v->x + v->y * v->y + v->z * v->z; }
