// D3DX 9 math: vectors, matrices and quaternions with the results of d3dx9_36.
//
// Row-vector convention throughout: a point is a row vector multiplied on the left,
// p' = p * M, so a translation sits in _41, _42, _43 and M1 * M2 applies M1 first.
// Quaternions are (x, y, z, w). Output pointers may alias inputs, as in D3DX.
// Only the functions the engine uses are here; colours, planes and the matrix stack are
// not.
#pragma once

#include <d3d9types.h>

struct D3DXVECTOR2 {
    D3DXVECTOR2() = default;
    D3DXVECTOR2(const FLOAT* xy);
    D3DXVECTOR2(FLOAT x, FLOAT y);

    operator FLOAT*();
    operator const FLOAT*() const;

    D3DXVECTOR2& operator+=(const D3DXVECTOR2& v);
    D3DXVECTOR2& operator-=(const D3DXVECTOR2& v);
    D3DXVECTOR2& operator*=(FLOAT s);
    D3DXVECTOR2& operator/=(FLOAT s);
    D3DXVECTOR2 operator+() const;
    D3DXVECTOR2 operator-() const;
    D3DXVECTOR2 operator+(const D3DXVECTOR2& v) const;
    D3DXVECTOR2 operator-(const D3DXVECTOR2& v) const;
    D3DXVECTOR2 operator*(FLOAT s) const;
    D3DXVECTOR2 operator/(FLOAT s) const;
    friend D3DXVECTOR2 operator*(FLOAT s, const D3DXVECTOR2& v);
    BOOL operator==(const D3DXVECTOR2& v) const;
    BOOL operator!=(const D3DXVECTOR2& v) const;

    FLOAT x, y;
};

struct D3DXVECTOR3 : public D3DVECTOR {
    D3DXVECTOR3() = default;
    D3DXVECTOR3(const FLOAT* xyz);
    D3DXVECTOR3(const D3DVECTOR& v);
    D3DXVECTOR3(FLOAT x, FLOAT y, FLOAT z);

    operator FLOAT*();
    operator const FLOAT*() const;

    D3DXVECTOR3& operator+=(const D3DXVECTOR3& v);
    D3DXVECTOR3& operator-=(const D3DXVECTOR3& v);
    D3DXVECTOR3& operator*=(FLOAT s);
    D3DXVECTOR3& operator/=(FLOAT s);
    D3DXVECTOR3 operator+() const;
    D3DXVECTOR3 operator-() const;
    D3DXVECTOR3 operator+(const D3DXVECTOR3& v) const;
    D3DXVECTOR3 operator-(const D3DXVECTOR3& v) const;
    D3DXVECTOR3 operator*(FLOAT s) const;
    D3DXVECTOR3 operator/(FLOAT s) const;
    friend D3DXVECTOR3 operator*(FLOAT s, const D3DXVECTOR3& v);
    BOOL operator==(const D3DXVECTOR3& v) const;
    BOOL operator!=(const D3DXVECTOR3& v) const;
};

struct D3DXVECTOR4 {
    D3DXVECTOR4() = default;
    D3DXVECTOR4(const FLOAT* xyzw);
    D3DXVECTOR4(const D3DVECTOR& xyz, FLOAT w);
    D3DXVECTOR4(FLOAT x, FLOAT y, FLOAT z, FLOAT w);

    operator FLOAT*();
    operator const FLOAT*() const;

    D3DXVECTOR4& operator+=(const D3DXVECTOR4& v);
    D3DXVECTOR4& operator-=(const D3DXVECTOR4& v);
    D3DXVECTOR4& operator*=(FLOAT s);
    D3DXVECTOR4& operator/=(FLOAT s);
    D3DXVECTOR4 operator+() const;
    D3DXVECTOR4 operator-() const;
    D3DXVECTOR4 operator+(const D3DXVECTOR4& v) const;
    D3DXVECTOR4 operator-(const D3DXVECTOR4& v) const;
    D3DXVECTOR4 operator*(FLOAT s) const;
    D3DXVECTOR4 operator/(FLOAT s) const;
    friend D3DXVECTOR4 operator*(FLOAT s, const D3DXVECTOR4& v);
    BOOL operator==(const D3DXVECTOR4& v) const;
    BOOL operator!=(const D3DXVECTOR4& v) const;

    FLOAT x, y, z, w;
};

struct D3DXMATRIX : public D3DMATRIX {
    D3DXMATRIX() = default;
    D3DXMATRIX(const FLOAT* elements);
    D3DXMATRIX(const D3DMATRIX& m);
    D3DXMATRIX(FLOAT m11, FLOAT m12, FLOAT m13, FLOAT m14, FLOAT m21, FLOAT m22, FLOAT m23, FLOAT m24, FLOAT m31,
               FLOAT m32, FLOAT m33, FLOAT m34, FLOAT m41, FLOAT m42, FLOAT m43, FLOAT m44);

    FLOAT& operator()(UINT row, UINT column);
    FLOAT operator()(UINT row, UINT column) const;

    operator FLOAT*();
    operator const FLOAT*() const;

    D3DXMATRIX& operator*=(const D3DXMATRIX& m);
    D3DXMATRIX& operator+=(const D3DXMATRIX& m);
    D3DXMATRIX& operator-=(const D3DXMATRIX& m);
    D3DXMATRIX& operator*=(FLOAT s);
    D3DXMATRIX& operator/=(FLOAT s);
    D3DXMATRIX operator+() const;
    D3DXMATRIX operator-() const;
    D3DXMATRIX operator*(const D3DXMATRIX& m) const;
    D3DXMATRIX operator+(const D3DXMATRIX& m) const;
    D3DXMATRIX operator-(const D3DXMATRIX& m) const;
    D3DXMATRIX operator*(FLOAT s) const;
    D3DXMATRIX operator/(FLOAT s) const;
    friend D3DXMATRIX operator*(FLOAT s, const D3DXMATRIX& m);
    // Bitwise comparison, as D3DX does it: -0 differs from +0 and a NaN can equal itself.
    BOOL operator==(const D3DXMATRIX& m) const;
    BOOL operator!=(const D3DXMATRIX& m) const;
};

struct D3DXQUATERNION {
    D3DXQUATERNION() = default;
    D3DXQUATERNION(const FLOAT* xyzw);
    D3DXQUATERNION(FLOAT x, FLOAT y, FLOAT z, FLOAT w);

    operator FLOAT*();
    operator const FLOAT*() const;

    D3DXQUATERNION& operator+=(const D3DXQUATERNION& q);
    D3DXQUATERNION& operator-=(const D3DXQUATERNION& q);
    // q1 * q2 is the rotation q1 followed by q2, as D3DXQuaternionMultiply defines it.
    D3DXQUATERNION& operator*=(const D3DXQUATERNION& q);
    D3DXQUATERNION& operator*=(FLOAT s);
    D3DXQUATERNION& operator/=(FLOAT s);
    D3DXQUATERNION operator+() const;
    D3DXQUATERNION operator-() const;
    D3DXQUATERNION operator+(const D3DXQUATERNION& q) const;
    D3DXQUATERNION operator-(const D3DXQUATERNION& q) const;
    D3DXQUATERNION operator*(const D3DXQUATERNION& q) const;
    D3DXQUATERNION operator*(FLOAT s) const;
    D3DXQUATERNION operator/(FLOAT s) const;
    friend D3DXQUATERNION operator*(FLOAT s, const D3DXQUATERNION& q);
    BOOL operator==(const D3DXQUATERNION& q) const;
    BOOL operator!=(const D3DXQUATERNION& q) const;

    FLOAT x, y, z, w;
};

typedef D3DXVECTOR2* LPD3DXVECTOR2;
typedef D3DXVECTOR3* LPD3DXVECTOR3;
typedef D3DXVECTOR4* LPD3DXVECTOR4;
typedef D3DXMATRIX* LPD3DXMATRIX;
typedef D3DXQUATERNION* LPD3DXQUATERNION;

// Vectors.
FLOAT WINAPI D3DXVec3Dot(const D3DXVECTOR3* v1, const D3DXVECTOR3* v2);
D3DXVECTOR3* WINAPI D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* v1, const D3DXVECTOR3* v2);
FLOAT WINAPI D3DXVec3Length(const D3DXVECTOR3* v);
FLOAT WINAPI D3DXVec3LengthSq(const D3DXVECTOR3* v);
// A zero vector normalises to the zero vector rather than to NaNs.
D3DXVECTOR3* WINAPI D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);
// (x, y, z, 1) * m, all four components kept.
D3DXVECTOR4* WINAPI D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 1) * m, divided by the resulting w.
D3DXVECTOR3* WINAPI D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 0) * m: a direction, which the translation row leaves alone.
D3DXVECTOR3* WINAPI D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);

// Matrices.
D3DXMATRIX* WINAPI D3DXMatrixIdentity(D3DXMATRIX* out);
D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2);
// Null, with out untouched, when the determinant is 0; the determinant is stored either way.
D3DXMATRIX* WINAPI D3DXMatrixInverse(D3DXMATRIX* out, FLOAT* determinant, const D3DXMATRIX* m);
D3DXMATRIX* WINAPI D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m);
D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* out, FLOAT x, FLOAT y, FLOAT z);
D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* out, FLOAT sx, FLOAT sy, FLOAT sz);
// Left-handed view: the camera looks down +z.
D3DXMATRIX* WINAPI D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                                      const D3DXVECTOR3* up);
// Left-handed projection to the Direct3D depth range 0..1.
D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, FLOAT fovY, FLOAT aspect, FLOAT zNear, FLOAT zFar);
D3DXMATRIX* WINAPI D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q);

// Quaternions.
FLOAT WINAPI D3DXQuaternionDot(const D3DXQUATERNION* q1, const D3DXQUATERNION* q2);
// The rotation q1 followed by q2.
D3DXQUATERNION* WINAPI D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* q1,
                                              const D3DXQUATERNION* q2);
D3DXQUATERNION* WINAPI D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q);
// Spherical interpolation along the shorter arc (q2 is negated when the two are more than
// 90 degrees apart); nearly equal quaternions are blended linearly.
D3DXQUATERNION* WINAPI D3DXQuaternionSlerp(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2,
                                           FLOAT t);

#include "d3dx9math.inl"
