// The camera's cached matrices: built on demand from their inputs, never by a setter.
#include "scene/Camera.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Camera, BuildsTheDemoViewAndProjection) {
    Camera camera;
    camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    camera.SetPosition(D3DXVECTOR3(2, 2, 2));
    camera.SetTarget(D3DXVECTOR3(500, 500, 500));
    D3DXMATRIX view = camera.GetView();
    // Looking along (1, 1, 1): right is (1, 0, -1) / sqrt 2, the eye 2 sqrt 3 along the view axis.
    EXPECT_NEAR(view._11, 0.70710678f, 1e-6f);
    EXPECT_NEAR(view._21, 0.0f, 1e-6f);
    EXPECT_NEAR(view._31, -0.70710678f, 1e-6f);
    EXPECT_NEAR(view._13, 0.57735027f, 1e-6f);
    EXPECT_NEAR(view._41, 0.0f, 1e-5f);
    EXPECT_NEAR(view._43, -3.4641016f, 1e-5f);
    EXPECT_EQ(view._44, 1.0f);
    D3DXMATRIX projection = camera.GetProjection();
    EXPECT_NEAR(projection._22, 1.7320508f, 1e-5f);
    EXPECT_NEAR(projection._11, 1.2990381f, 1e-5f);
    EXPECT_NEAR(projection._33, 2000.0f / 1999.0f, 1e-6f);
    EXPECT_EQ(projection._34, 1.0f);
    EXPECT_NEAR(projection._43, -2000.0f / 1999.0f, 1e-6f);
    EXPECT_EQ(projection._44, 0.0f);
}

TEST(Camera, MatricesAreRebuiltOnlyAfterTheirOwnInputsChange) {
    Camera camera;
    camera.SetPosition(D3DXVECTOR3(0, 0, -10));
    camera.GetView();
    camera.GetProjection();
    // Mark the caches; a rebuild would overwrite the marks.
    camera.view._12 = 42.0f;
    camera.projection._12 = 43.0f;
    EXPECT_EQ(camera.GetView()._12, 42.0f) << "a second GetView without a setter reuses the matrix";
    camera.SetTarget(D3DXVECTOR3(1, 0, 0));
    EXPECT_EQ(camera.GetProjection()._12, 43.0f) << "SetTarget leaves the projection alone";
    EXPECT_TRUE(camera.viewStale);
    EXPECT_NE(camera.GetView()._12, 42.0f);
    camera.SetPerspective(90.0f, 1.0f, 0.5f, 10.0f);
    camera.view._12 = 44.0f;
    EXPECT_EQ(camera.GetView()._12, 44.0f) << "SetPerspective leaves the view alone";
    EXPECT_NE(camera.GetProjection()._12, 43.0f);
    // Setting the same value again still marks the matrix stale.
    camera.SetPosition(camera.eye);
    EXPECT_TRUE(camera.viewStale);
}

TEST(Camera, DefaultsGiveAUsableProjection) {
    Camera camera;
    D3DXMATRIX projection = camera.GetProjection();
    // 45 degrees, aspect 1, planes 1 and 1000.
    EXPECT_NEAR(projection._22, 1.0f / std::tan(45.0f * 0.017453292f / 2.0f), 1e-5f);
    EXPECT_NEAR(projection._33, 1000.0f / 999.0f, 1e-6f);
    // Eye equal to target goes to the look-at function unchanged: no check, no crash.
    camera.GetView();
}
