// D3DX 9 vector, matrix and quaternion functions in single precision, with D3DX's formulas
// so that results match d3dx9_36 up to rounding.
#include <d3dx9math.h>

#include <cmath>
#include <cstring>

// D3DXVECTOR2 ----------------------------------------------------------------------------

D3DXVECTOR2::D3DXVECTOR2(const FLOAT* xy) : x(xy ? xy[0] : 0.0f), y(xy ? xy[1] : 0.0f) {}
D3DXVECTOR2::D3DXVECTOR2(FLOAT x_, FLOAT y_) : x(x_), y(y_) {}
D3DXVECTOR2::operator FLOAT*() { return &x; }
D3DXVECTOR2::operator const FLOAT*() const { return &x; }
D3DXVECTOR2& D3DXVECTOR2::operator+=(const D3DXVECTOR2& v) { x += v.x; y += v.y; return *this; }
D3DXVECTOR2& D3DXVECTOR2::operator-=(const D3DXVECTOR2& v) { x -= v.x; y -= v.y; return *this; }
D3DXVECTOR2& D3DXVECTOR2::operator*=(FLOAT s) { x *= s; y *= s; return *this; }
D3DXVECTOR2& D3DXVECTOR2::operator/=(FLOAT s) { x /= s; y /= s; return *this; }
D3DXVECTOR2 D3DXVECTOR2::operator+() const { return *this; }
D3DXVECTOR2 D3DXVECTOR2::operator-() const { return D3DXVECTOR2(-x, -y); }
D3DXVECTOR2 D3DXVECTOR2::operator+(const D3DXVECTOR2& v) const { return D3DXVECTOR2(x + v.x, y + v.y); }
D3DXVECTOR2 D3DXVECTOR2::operator-(const D3DXVECTOR2& v) const { return D3DXVECTOR2(x - v.x, y - v.y); }
D3DXVECTOR2 D3DXVECTOR2::operator*(FLOAT s) const { return D3DXVECTOR2(x * s, y * s); }
D3DXVECTOR2 D3DXVECTOR2::operator/(FLOAT s) const { return D3DXVECTOR2(x / s, y / s); }
D3DXVECTOR2 operator*(FLOAT s, const D3DXVECTOR2& v) { return v * s; }
BOOL D3DXVECTOR2::operator==(const D3DXVECTOR2& v) const { return x == v.x && y == v.y; }
BOOL D3DXVECTOR2::operator!=(const D3DXVECTOR2& v) const { return !(*this == v); }

// D3DXVECTOR4 ----------------------------------------------------------------------------

D3DXVECTOR4::D3DXVECTOR4(const FLOAT* v)
    : x(v ? v[0] : 0.0f), y(v ? v[1] : 0.0f), z(v ? v[2] : 0.0f), w(v ? v[3] : 0.0f) {}
D3DXVECTOR4::D3DXVECTOR4(const D3DVECTOR& xyz, FLOAT w_) : x(xyz.x), y(xyz.y), z(xyz.z), w(w_) {}
D3DXVECTOR4::D3DXVECTOR4(FLOAT x_, FLOAT y_, FLOAT z_, FLOAT w_) : x(x_), y(y_), z(z_), w(w_) {}
D3DXVECTOR4::operator FLOAT*() { return &x; }
D3DXVECTOR4::operator const FLOAT*() const { return &x; }
D3DXVECTOR4& D3DXVECTOR4::operator+=(const D3DXVECTOR4& v) { x += v.x; y += v.y; z += v.z; w += v.w; return *this; }
D3DXVECTOR4& D3DXVECTOR4::operator-=(const D3DXVECTOR4& v) { x -= v.x; y -= v.y; z -= v.z; w -= v.w; return *this; }
D3DXVECTOR4& D3DXVECTOR4::operator*=(FLOAT s) { x *= s; y *= s; z *= s; w *= s; return *this; }
D3DXVECTOR4& D3DXVECTOR4::operator/=(FLOAT s) { x /= s; y /= s; z /= s; w /= s; return *this; }
D3DXVECTOR4 D3DXVECTOR4::operator+() const { return *this; }
D3DXVECTOR4 D3DXVECTOR4::operator-() const { return D3DXVECTOR4(-x, -y, -z, -w); }
D3DXVECTOR4 D3DXVECTOR4::operator+(const D3DXVECTOR4& v) const {
    return D3DXVECTOR4(x + v.x, y + v.y, z + v.z, w + v.w);
}
D3DXVECTOR4 D3DXVECTOR4::operator-(const D3DXVECTOR4& v) const {
    return D3DXVECTOR4(x - v.x, y - v.y, z - v.z, w - v.w);
}
D3DXVECTOR4 D3DXVECTOR4::operator*(FLOAT s) const { return D3DXVECTOR4(x * s, y * s, z * s, w * s); }
D3DXVECTOR4 D3DXVECTOR4::operator/(FLOAT s) const { return D3DXVECTOR4(x / s, y / s, z / s, w / s); }
D3DXVECTOR4 operator*(FLOAT s, const D3DXVECTOR4& v) { return v * s; }
BOOL D3DXVECTOR4::operator==(const D3DXVECTOR4& v) const { return x == v.x && y == v.y && z == v.z && w == v.w; }
BOOL D3DXVECTOR4::operator!=(const D3DXVECTOR4& v) const { return !(*this == v); }

// D3DXMATRIX -----------------------------------------------------------------------------

D3DXMATRIX::D3DXMATRIX(const FLOAT* elements) {
    if (elements)
        std::memcpy(&_11, elements, sizeof(m));
    else
        std::memset(&_11, 0, sizeof(m));
}
D3DXMATRIX::D3DXMATRIX(const D3DMATRIX& other) : D3DMATRIX(other) {}
D3DXMATRIX::D3DXMATRIX(FLOAT m11, FLOAT m12, FLOAT m13, FLOAT m14, FLOAT m21, FLOAT m22, FLOAT m23, FLOAT m24,
                       FLOAT m31, FLOAT m32, FLOAT m33, FLOAT m34, FLOAT m41, FLOAT m42, FLOAT m43, FLOAT m44) {
    _11 = m11; _12 = m12; _13 = m13; _14 = m14;
    _21 = m21; _22 = m22; _23 = m23; _24 = m24;
    _31 = m31; _32 = m32; _33 = m33; _34 = m34;
    _41 = m41; _42 = m42; _43 = m43; _44 = m44;
}
FLOAT& D3DXMATRIX::operator()(UINT row, UINT column) { return m[row][column]; }
FLOAT D3DXMATRIX::operator()(UINT row, UINT column) const { return m[row][column]; }
D3DXMATRIX::operator FLOAT*() { return &_11; }
D3DXMATRIX::operator const FLOAT*() const { return &_11; }

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& other) {
    D3DXMatrixMultiply(this, this, &other);
    return *this;
}
D3DXMATRIX& D3DXMATRIX::operator+=(const D3DXMATRIX& other) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] += other.m[i][j];
    return *this;
}
D3DXMATRIX& D3DXMATRIX::operator-=(const D3DXMATRIX& other) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] -= other.m[i][j];
    return *this;
}
D3DXMATRIX& D3DXMATRIX::operator*=(FLOAT s) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] *= s;
    return *this;
}
D3DXMATRIX& D3DXMATRIX::operator/=(FLOAT s) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] /= s;
    return *this;
}
D3DXMATRIX D3DXMATRIX::operator+() const { return *this; }
D3DXMATRIX D3DXMATRIX::operator-() const { return *this * -1.0f; }
D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& other) const {
    D3DXMATRIX product;
    D3DXMatrixMultiply(&product, this, &other);
    return product;
}
D3DXMATRIX D3DXMATRIX::operator+(const D3DXMATRIX& other) const { return D3DXMATRIX(*this) += other; }
D3DXMATRIX D3DXMATRIX::operator-(const D3DXMATRIX& other) const { return D3DXMATRIX(*this) -= other; }
D3DXMATRIX D3DXMATRIX::operator*(FLOAT s) const { return D3DXMATRIX(*this) *= s; }
D3DXMATRIX D3DXMATRIX::operator/(FLOAT s) const { return D3DXMATRIX(*this) /= s; }
D3DXMATRIX operator*(FLOAT s, const D3DXMATRIX& m) { return m * s; }
BOOL D3DXMATRIX::operator==(const D3DXMATRIX& other) const { return std::memcmp(m, other.m, sizeof(m)) == 0; }
BOOL D3DXMATRIX::operator!=(const D3DXMATRIX& other) const { return !(*this == other); }

// D3DXQUATERNION -------------------------------------------------------------------------

D3DXQUATERNION::D3DXQUATERNION(const FLOAT* q)
    : x(q ? q[0] : 0.0f), y(q ? q[1] : 0.0f), z(q ? q[2] : 0.0f), w(q ? q[3] : 0.0f) {}
D3DXQUATERNION::D3DXQUATERNION(FLOAT x_, FLOAT y_, FLOAT z_, FLOAT w_) : x(x_), y(y_), z(z_), w(w_) {}
D3DXQUATERNION::operator FLOAT*() { return &x; }
D3DXQUATERNION::operator const FLOAT*() const { return &x; }
D3DXQUATERNION& D3DXQUATERNION::operator+=(const D3DXQUATERNION& q) {
    x += q.x; y += q.y; z += q.z; w += q.w;
    return *this;
}
D3DXQUATERNION& D3DXQUATERNION::operator-=(const D3DXQUATERNION& q) {
    x -= q.x; y -= q.y; z -= q.z; w -= q.w;
    return *this;
}
D3DXQUATERNION& D3DXQUATERNION::operator*=(const D3DXQUATERNION& q) {
    D3DXQuaternionMultiply(this, this, &q);
    return *this;
}
D3DXQUATERNION& D3DXQUATERNION::operator*=(FLOAT s) { x *= s; y *= s; z *= s; w *= s; return *this; }
D3DXQUATERNION& D3DXQUATERNION::operator/=(FLOAT s) { x /= s; y /= s; z /= s; w /= s; return *this; }
D3DXQUATERNION D3DXQUATERNION::operator+() const { return *this; }
D3DXQUATERNION D3DXQUATERNION::operator-() const { return D3DXQUATERNION(-x, -y, -z, -w); }
D3DXQUATERNION D3DXQUATERNION::operator+(const D3DXQUATERNION& q) const {
    return D3DXQUATERNION(x + q.x, y + q.y, z + q.z, w + q.w);
}
D3DXQUATERNION D3DXQUATERNION::operator-(const D3DXQUATERNION& q) const {
    return D3DXQUATERNION(x - q.x, y - q.y, z - q.z, w - q.w);
}
D3DXQUATERNION D3DXQUATERNION::operator*(const D3DXQUATERNION& q) const {
    D3DXQUATERNION product;
    D3DXQuaternionMultiply(&product, this, &q);
    return product;
}
D3DXQUATERNION D3DXQUATERNION::operator*(FLOAT s) const { return D3DXQUATERNION(x * s, y * s, z * s, w * s); }
D3DXQUATERNION D3DXQUATERNION::operator/(FLOAT s) const { return D3DXQUATERNION(x / s, y / s, z / s, w / s); }
D3DXQUATERNION operator*(FLOAT s, const D3DXQUATERNION& q) { return q * s; }
BOOL D3DXQUATERNION::operator==(const D3DXQUATERNION& q) const {
    return x == q.x && y == q.y && z == q.z && w == q.w;
}
BOOL D3DXQUATERNION::operator!=(const D3DXQUATERNION& q) const { return !(*this == q); }

// Vector functions ----------------------------------------------------------------------

D3DXVECTOR3* WINAPI D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
    FLOAT length = D3DXVec3Length(v);
    if (length == 0.0f) {
        *out = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    } else {
        *out = D3DXVECTOR3(v->x / length, v->y / length, v->z / length);
    }
    return out;
}

D3DXVECTOR4* WINAPI D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    D3DXVECTOR4 result(v->x * m->_11 + v->y * m->_21 + v->z * m->_31 + m->_41,
                       v->x * m->_12 + v->y * m->_22 + v->z * m->_32 + m->_42,
                       v->x * m->_13 + v->y * m->_23 + v->z * m->_33 + m->_43,
                       v->x * m->_14 + v->y * m->_24 + v->z * m->_34 + m->_44);
    *out = result;
    return out;
}

D3DXVECTOR3* WINAPI D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    D3DXVECTOR4 h;
    D3DXVec3Transform(&h, v, m);
    *out = D3DXVECTOR3(h.x / h.w, h.y / h.w, h.z / h.w);
    return out;
}

D3DXVECTOR3* WINAPI D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    *out = D3DXVECTOR3(v->x * m->_11 + v->y * m->_21 + v->z * m->_31, v->x * m->_12 + v->y * m->_22 + v->z * m->_32,
                       v->x * m->_13 + v->y * m->_23 + v->z * m->_33);
    return out;
}

// Matrix functions -----------------------------------------------------------------------

D3DXMATRIX* WINAPI D3DXMatrixIdentity(D3DXMATRIX* out) {
    *out = D3DXMATRIX(1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
    return out;
}

D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2) {
    D3DXMATRIX product;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            product.m[i][j] = m1->m[i][0] * m2->m[0][j] + m1->m[i][1] * m2->m[1][j] + m1->m[i][2] * m2->m[2][j] +
                              m1->m[i][3] * m2->m[3][j];
    *out = product;
    return out;
}

D3DXMATRIX* WINAPI D3DXMatrixInverse(D3DXMATRIX* out, FLOAT* determinant, const D3DXMATRIX* m) {
    const FLOAT(&a)[4][4] = m->m;
    // 2x2 minors of the lower two rows and of the upper two rows; every 3x3 cofactor is a
    // combination of one set with a row of the other.
    FLOAT s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
    FLOAT s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
    FLOAT s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
    FLOAT s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
    FLOAT s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
    FLOAT s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
    FLOAT c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
    FLOAT c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
    FLOAT c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
    FLOAT c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
    FLOAT c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
    FLOAT c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
    FLOAT det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
    if (determinant) *determinant = det;
    if (det == 0.0f) return nullptr;

    D3DXMATRIX inverse;
    FLOAT (&b)[4][4] = inverse.m;
    b[0][0] = (a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3) / det;
    b[0][1] = (-a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3) / det;
    b[0][2] = (a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3) / det;
    b[0][3] = (-a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3) / det;
    b[1][0] = (-a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1) / det;
    b[1][1] = (a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1) / det;
    b[1][2] = (-a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1) / det;
    b[1][3] = (a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1) / det;
    b[2][0] = (a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0) / det;
    b[2][1] = (-a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0) / det;
    b[2][2] = (a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0) / det;
    b[2][3] = (-a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0) / det;
    b[3][0] = (-a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0) / det;
    b[3][1] = (a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0) / det;
    b[3][2] = (-a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0) / det;
    b[3][3] = (a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0) / det;
    *out = inverse;
    return out;
}

D3DXMATRIX* WINAPI D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
    D3DXMATRIX transposed;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) transposed.m[i][j] = m->m[j][i];
    *out = transposed;
    return out;
}

D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* out, FLOAT x, FLOAT y, FLOAT z) {
    D3DXMatrixIdentity(out);
    out->_41 = x;
    out->_42 = y;
    out->_43 = z;
    return out;
}

D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* out, FLOAT sx, FLOAT sy, FLOAT sz) {
    D3DXMatrixIdentity(out);
    out->_11 = sx;
    out->_22 = sy;
    out->_33 = sz;
    return out;
}

D3DXMATRIX* WINAPI D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                                      const D3DXVECTOR3* up) {
    D3DXVECTOR3 zAxis = *at - *eye;
    D3DXVec3Normalize(&zAxis, &zAxis);
    D3DXVECTOR3 xAxis;
    D3DXVec3Cross(&xAxis, up, &zAxis);
    D3DXVec3Normalize(&xAxis, &xAxis);
    D3DXVECTOR3 yAxis;
    D3DXVec3Cross(&yAxis, &zAxis, &xAxis);
    *out = D3DXMATRIX(xAxis.x, yAxis.x, zAxis.x, 0.0f,  //
                      xAxis.y, yAxis.y, zAxis.y, 0.0f,  //
                      xAxis.z, yAxis.z, zAxis.z, 0.0f,  //
                      -D3DXVec3Dot(&xAxis, eye), -D3DXVec3Dot(&yAxis, eye), -D3DXVec3Dot(&zAxis, eye), 1.0f);
    return out;
}

D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, FLOAT fovY, FLOAT aspect, FLOAT zNear, FLOAT zFar) {
    FLOAT yScale = 1.0f / std::tan(fovY / 2.0f);
    FLOAT xScale = yScale / aspect;
    FLOAT depth = zFar / (zFar - zNear);
    *out = D3DXMATRIX(xScale, 0.0f, 0.0f, 0.0f,  //
                      0.0f, yScale, 0.0f, 0.0f,  //
                      0.0f, 0.0f, depth, 1.0f,   //
                      0.0f, 0.0f, -zNear * depth, 0.0f);
    return out;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q) {
    FLOAT x = q->x, y = q->y, z = q->z, w = q->w;
    *out = D3DXMATRIX(1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y + z * w), 2.0f * (x * z - y * w), 0.0f,  //
                      2.0f * (x * y - z * w), 1.0f - 2.0f * (x * x + z * z), 2.0f * (y * z + x * w), 0.0f,  //
                      2.0f * (x * z + y * w), 2.0f * (y * z - x * w), 1.0f - 2.0f * (x * x + y * y), 0.0f,  //
                      0.0f, 0.0f, 0.0f, 1.0f);
    return out;
}

// Quaternion functions ------------------------------------------------------------------

FLOAT WINAPI D3DXQuaternionDot(const D3DXQUATERNION* q1, const D3DXQUATERNION* q2) {
    return q1->x * q2->x + q1->y * q2->y + q1->z * q2->z + q1->w * q2->w;
}

D3DXQUATERNION* WINAPI D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* q1,
                                              const D3DXQUATERNION* q2) {
    // The Hamilton product q2 q1: in the row-vector convention the matrix of the result is
    // the matrix of q1 times the matrix of q2.
    D3DXQUATERNION product(q2->w * q1->x + q2->x * q1->w + q2->y * q1->z - q2->z * q1->y,
                           q2->w * q1->y - q2->x * q1->z + q2->y * q1->w + q2->z * q1->x,
                           q2->w * q1->z + q2->x * q1->y - q2->y * q1->x + q2->z * q1->w,
                           q2->w * q1->w - q2->x * q1->x - q2->y * q1->y - q2->z * q1->z);
    *out = product;
    return out;
}

D3DXQUATERNION* WINAPI D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
    FLOAT length = std::sqrt(D3DXQuaternionDot(q, q));
    if (length == 0.0f) {
        *out = D3DXQUATERNION(0.0f, 0.0f, 0.0f, 0.0f);
    } else {
        *out = D3DXQUATERNION(q->x / length, q->y / length, q->z / length, q->w / length);
    }
    return out;
}

D3DXQUATERNION* WINAPI D3DXQuaternionSlerp(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2,
                                           FLOAT t) {
    FLOAT cosine = D3DXQuaternionDot(q1, q2);
    FLOAT sign = 1.0f;
    if (cosine < 0.0f) {
        sign = -1.0f;
        cosine = -cosine;
    }
    FLOAT weight1 = 1.0f - t;
    FLOAT weight2 = t;
    // Close quaternions would divide by a vanishing sine; a linear blend is exact enough.
    if (1.0f - cosine > 0.001f) {
        FLOAT theta = std::acos(cosine);
        FLOAT sine = std::sin(theta);
        weight1 = std::sin(theta * weight1) / sine;
        weight2 = std::sin(theta * weight2) / sine;
    }
    weight2 *= sign;
    *out = D3DXQUATERNION(weight1 * q1->x + weight2 * q2->x, weight1 * q1->y + weight2 * q2->y,
                          weight1 * q1->z + weight2 * q2->z, weight1 * q1->w + weight2 * q2->w);
    return out;
}
