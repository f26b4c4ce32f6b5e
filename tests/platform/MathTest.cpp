// D3DX math against values worked out independently: by hand from the row-vector
// convention, or with exact fractions in Python (noted where used).
#include <d3dx9math.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kTolerance = 1e-5f;

void ExpectMatrixNear(const D3DXMATRIX& actual, const float (&expected)[16]) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR((&actual._11)[i], expected[i], kTolerance) << "element _" << i / 4 + 1 << i % 4 + 1;
}

void ExpectVectorNear(const D3DXVECTOR3& actual, float x, float y, float z) {
    EXPECT_NEAR(actual.x, x, kTolerance);
    EXPECT_NEAR(actual.y, y, kTolerance);
    EXPECT_NEAR(actual.z, z, kTolerance);
}

D3DXVECTOR3 TransformPoint(const D3DXVECTOR3& point, const D3DXMATRIX& matrix) {
    D3DXVECTOR3 result;
    D3DXVec3TransformCoord(&result, &point, &matrix);
    return result;
}

}  // namespace

TEST(D3DXMatrix, MultiplyIsRowByColumnAndSafeWhenTheOutputIsAnInput) {
    D3DXMATRIX a(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    D3DXMATRIX b(2, 0, 1, 0, 0, 1, 0, 3, 1, 1, 1, 1, 4, 0, 0, 2);
    // Integer product computed in Python.
    const float expected[16] = {21, 5, 4, 17, 49, 13, 12, 41, 77, 21, 20, 65, 105, 29, 28, 89};
    D3DXMATRIX product;
    EXPECT_EQ(D3DXMatrixMultiply(&product, &a, &b), &product);
    ExpectMatrixNear(product, expected);
    D3DXMatrixMultiply(&a, &a, &b);
    ExpectMatrixNear(a, expected);
    ExpectMatrixNear(D3DXMATRIX(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16) * b, expected);
}

TEST(D3DXMatrix, TranslationThenScalingAppliesLeftOperandFirst) {
    D3DXMATRIX translation, scaling, both;
    D3DXMatrixTranslation(&translation, 1, 2, 3);
    D3DXMatrixScaling(&scaling, 2, 4, 8);
    D3DXMatrixMultiply(&both, &translation, &scaling);
    // (1, 1, 1) moved to (2, 3, 4), then scaled.
    ExpectVectorNear(TransformPoint(D3DXVECTOR3(1, 1, 1), both), 4, 12, 32);
    EXPECT_FLOAT_EQ(translation._41, 1);
    EXPECT_FLOAT_EQ(translation._43, 3);
}

TEST(D3DXMatrix, InverseAndDeterminant) {
    D3DXMATRIX m(2, 1, 0, 0, 1, 3, 1, 0, 0, 1, 4, 0, 5, -2, 3, 1);
    // Gauss-Jordan with exact fractions in Python: det 18, inverse rows
    // (11/18, -2/9, 1/18, 0), (-2/9, 4/9, -1/9, 0), (1/18, -1/9, 5/18, 0), (-11/3, 7/3, -4/3, 1).
    const float expected[16] = {11.0f / 18, -2.0f / 9, 1.0f / 18, 0, -2.0f / 9, 4.0f / 9,  -1.0f / 9, 0,
                                1.0f / 18,  -1.0f / 9, 5.0f / 18, 0, -11.0f / 3, 7.0f / 3, -4.0f / 3, 1};
    D3DXMATRIX inverse;
    float determinant = 0;
    EXPECT_EQ(D3DXMatrixInverse(&inverse, &determinant, &m), &inverse);
    EXPECT_NEAR(determinant, 18, kTolerance);
    ExpectMatrixNear(inverse, expected);
    EXPECT_EQ(D3DXMatrixInverse(&m, nullptr, &m), &m);
    ExpectMatrixNear(m, expected);
}

TEST(D3DXMatrix, SingularMatrixHasNoInverseAndKeepsTheOutput) {
    D3DXMATRIX singular(1, 2, 3, 4, 2, 4, 6, 8, 0, 0, 1, 0, 0, 0, 0, 1);
    D3DXMATRIX out;
    D3DXMatrixIdentity(&out);
    float determinant = 5;
    EXPECT_EQ(D3DXMatrixInverse(&out, &determinant, &singular), nullptr);
    EXPECT_EQ(determinant, 0);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrixNear(out, identity);
}

TEST(D3DXMatrix, TransposeInPlace) {
    D3DXMATRIX m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    D3DXMatrixTranspose(&m, &m);
    const float expected[16] = {1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 4, 8, 12, 16};
    ExpectMatrixNear(m, expected);
    EXPECT_FLOAT_EQ(m(0, 1), 5);
}

TEST(D3DXMatrix, LookAtLHPutsTheTargetOnThePositiveZAxis) {
    // Eye on +x looking at the origin: view x = (0, 0, 1), y = (0, 1, 0), z = (-1, 0, 0)
    // as columns, translation row (0, 0, 1).
    D3DXVECTOR3 eye(1, 0, 0), at(0, 0, 0), up(0, 1, 0);
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    const float expected[16] = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1};
    ExpectMatrixNear(view, expected);
    ExpectVectorNear(TransformPoint(eye, view), 0, 0, 0);
    ExpectVectorNear(TransformPoint(D3DXVECTOR3(0, 2, 0), view), 0, 2, 1);

    D3DXVECTOR3 farEye(0, 0, -5);
    D3DXMatrixLookAtLH(&view, &farEye, &at, &up);
    ExpectVectorNear(TransformPoint(at, view), 0, 0, 5);
}

TEST(D3DXMatrix, PerspectiveFovLHMapsNearAndFarToDepthZeroAndOne) {
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 1.57079633f, 2.0f, 1.0f, 101.0f);
    // cot(45 degrees) = 1; x scale 1 / aspect; depth 101 / 100, offset -1 * 101 / 100.
    const float expected[16] = {0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1.01f, 1, 0, 0, -1.01f, 0};
    ExpectMatrixNear(projection, expected);
    EXPECT_NEAR(TransformPoint(D3DXVECTOR3(0, 0, 1), projection).z, 0, kTolerance);
    EXPECT_NEAR(TransformPoint(D3DXVECTOR3(0, 0, 101), projection).z, 1, kTolerance);
    ExpectVectorNear(TransformPoint(D3DXVECTOR3(2, 1, 1), projection), 1, 1, 0);
}

TEST(D3DXMatrix, RotationQuaternionFollowsTheRowVectorConvention) {
    const float s = std::sqrt(0.5f);
    D3DXQUATERNION quarterTurnZ(0, 0, s, s);
    D3DXMATRIX m;
    D3DXMatrixRotationQuaternion(&m, &quarterTurnZ);
    // A positive quarter turn about z carries the row vector x to y.
    const float expected[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrixNear(m, expected);

    // 120 degrees about (1, 1, 1) permutes the axes: x -> y -> z -> x.
    D3DXQUATERNION third(0.5f, 0.5f, 0.5f, 0.5f);
    D3DXMatrixRotationQuaternion(&m, &third);
    ExpectVectorNear(TransformPoint(D3DXVECTOR3(1, 0, 0), m), 0, 1, 0);
    ExpectVectorNear(TransformPoint(D3DXVECTOR3(0, 1, 0), m), 0, 0, 1);
    ExpectVectorNear(TransformPoint(D3DXVECTOR3(0, 0, 1), m), 1, 0, 0);
}

TEST(D3DXQuaternion, MultiplyIsTheFirstRotationFollowedByTheSecond) {
    const float s = std::sqrt(0.5f);
    D3DXQUATERNION aboutZ(0, 0, s, s), aboutX(s, 0, 0, s), both;
    D3DXQuaternionMultiply(&both, &aboutZ, &aboutX);
    D3DXMATRIX m;
    D3DXMatrixRotationQuaternion(&m, &both);
    // x -> y by the z turn, then y -> z by the x turn.
    ExpectVectorNear(TransformPoint(D3DXVECTOR3(1, 0, 0), m), 0, 0, 1);
    D3DXQUATERNION viaOperator = aboutZ * aboutX;
    EXPECT_NEAR(viaOperator.x, both.x, kTolerance);
    EXPECT_NEAR(viaOperator.w, both.w, kTolerance);
}

TEST(D3DXQuaternion, SlerpTakesTheShorterArc) {
    const float s = std::sqrt(0.5f);
    D3DXQUATERNION identity(0, 0, 0, 1), quarterTurnZ(0, 0, s, s), result;
    // Halfway to a quarter turn is an eighth turn: (0, 0, sin 22.5, cos 22.5).
    D3DXQuaternionSlerp(&result, &identity, &quarterTurnZ, 0.5f);
    EXPECT_NEAR(result.x, 0, kTolerance);
    EXPECT_NEAR(result.z, 0.38268343f, kTolerance);
    EXPECT_NEAR(result.w, 0.92387953f, kTolerance);
    // The negated quaternion is the same rotation; the shorter arc gives the same result.
    D3DXQUATERNION negated = -quarterTurnZ;
    D3DXQuaternionSlerp(&result, &identity, &negated, 0.5f);
    EXPECT_NEAR(result.z, 0.38268343f, kTolerance);
    EXPECT_NEAR(result.w, 0.92387953f, kTolerance);
    // A quarter of the way: sin and cos of 11.25 degrees.
    D3DXQuaternionSlerp(&result, &identity, &quarterTurnZ, 0.25f);
    EXPECT_NEAR(result.z, 0.19509032f, kTolerance);
    EXPECT_NEAR(result.w, 0.98078528f, kTolerance);
}

TEST(D3DXQuaternion, SlerpEndpointsAndNearlyEqualInputs) {
    const float s = std::sqrt(0.5f);
    D3DXQUATERNION a(0, 0, 0, 1), b(0, 0, s, s), result;
    D3DXQuaternionSlerp(&result, &a, &b, 0.0f);
    EXPECT_EQ(result, a);
    D3DXQuaternionSlerp(&result, &a, &b, 1.0f);
    EXPECT_NEAR(result.z, s, kTolerance);
    EXPECT_NEAR(result.w, s, kTolerance);
    // Inputs closer than the acos threshold blend linearly: (1 - t) a + t b.
    D3DXQUATERNION c(0, 0, 0.01f, 1);
    D3DXQuaternionSlerp(&result, &a, &c, 0.5f);
    EXPECT_NEAR(result.z, 0.005f, 1e-7f);
    EXPECT_NEAR(result.w, 1.0f, 1e-7f);
}

TEST(D3DXQuaternion, NormalizeScalesToUnitLengthAndLeavesZeroAtZero) {
    D3DXQUATERNION q(0, 3, 0, 4), result;
    D3DXQuaternionNormalize(&result, &q);
    EXPECT_NEAR(result.y, 0.6f, kTolerance);
    EXPECT_NEAR(result.w, 0.8f, kTolerance);
    D3DXQUATERNION zero(0, 0, 0, 0);
    D3DXQuaternionNormalize(&result, &zero);
    EXPECT_EQ(result, zero);
}

TEST(D3DXVector, NormalizeLengthDotAndCross) {
    D3DXVECTOR3 v(3, 4, 0), out;
    D3DXVec3Normalize(&out, &v);
    ExpectVectorNear(out, 0.6f, 0.8f, 0);
    D3DXVECTOR3 zero(0, 0, 0);
    D3DXVec3Normalize(&out, &zero);
    EXPECT_EQ(out, zero);
    EXPECT_FALSE(std::isnan(out.x));

    D3DXVECTOR3 w(2, 3, 6);
    EXPECT_FLOAT_EQ(D3DXVec3Length(&w), 7);
    D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0), cross;
    D3DXVec3Cross(&cross, &x, &y);
    ExpectVectorNear(cross, 0, 0, 1);
    D3DXVECTOR3 p(1, 2, 3), q(4, -5, 6);
    EXPECT_FLOAT_EQ(D3DXVec3Dot(&p, &q), 12);
    D3DXVec3Cross(&cross, &p, &q);
    ExpectVectorNear(cross, 27, 6, -13);
    D3DXVec3Cross(&p, &p, &q);
    ExpectVectorNear(p, 27, 6, -13);
}

TEST(D3DXVector, TransformKeepsWAndTransformCoordDividesByIt) {
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, 10, 20, 30);
    D3DXVECTOR3 v(1, 2, 3);
    D3DXVECTOR4 out;
    D3DXVec3Transform(&out, &v, &m);
    EXPECT_EQ(out, D3DXVECTOR4(11, 22, 33, 1));

    // A fourth column of (0, 0, 1, 1) makes w = z + 1 = 4.
    m._34 = 1;
    D3DXVec3Transform(&out, &v, &m);
    EXPECT_EQ(out, D3DXVECTOR4(11, 22, 33, 4));
    ExpectVectorNear(TransformPoint(v, m), 2.75f, 5.5f, 8.25f);

    // A direction ignores the translation row and the fourth column.
    D3DXMATRIX scaled;
    D3DXMatrixScaling(&scaled, 2, 3, 4);
    D3DXMatrixMultiply(&m, &scaled, &m);
    D3DXVECTOR3 direction;
    D3DXVec3TransformNormal(&direction, &v, &m);
    ExpectVectorNear(direction, 2, 6, 12);
    EXPECT_EQ(D3DXVec3LengthSq(&v), 14.0f);
}

TEST(D3DXVector, OperatorsAndConversions) {
    D3DXVECTOR3 a(1, 2, 3), b(4, 5, 6);
    EXPECT_EQ(a + b, D3DXVECTOR3(5, 7, 9));
    EXPECT_EQ(b - a, D3DXVECTOR3(3, 3, 3));
    EXPECT_EQ(2.0f * a, D3DXVECTOR3(2, 4, 6));
    EXPECT_EQ(b / 2.0f, D3DXVECTOR3(2, 2.5f, 3));
    EXPECT_EQ(-a, D3DXVECTOR3(-1, -2, -3));
    const float* asArray = a;
    EXPECT_EQ(asArray[2], 3);
    D3DXVECTOR2 uv(0.25f, 0.5f);
    EXPECT_EQ(uv * 4.0f, D3DXVECTOR2(1, 2));
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    EXPECT_EQ(identity * 3.0f - identity, 2.0f * identity);
    EXPECT_NE(identity, -identity);
}
