#include "scene/Camera.h"

namespace {
// pi / 180 as the single-precision value the projection is built with.
constexpr float kDegreesToRadians = 0.017453292f;
}  // namespace

D3DXMATRIX Camera::Identity() {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    return m;
}

void Camera::SetPosition(const D3DXVECTOR3& position) {
    eye = position;
    viewStale = true;
}

void Camera::SetTarget(const D3DXVECTOR3& lookAt) {
    target = lookAt;
    viewStale = true;
}

void Camera::SetPerspective(float fieldOfViewDegrees, float aspectRatio, float nearDistance, float farDistance) {
    fovDegrees = fieldOfViewDegrees;
    aspect = aspectRatio;
    nearPlane = nearDistance;
    farPlane = farDistance;
    projectionStale = true;
}

D3DXMATRIX Camera::GetView() {
    if (viewStale) {
        D3DXMatrixLookAtLH(&view, &eye, &target, &up);
        viewStale = false;
    }
    return view;
}

D3DXMATRIX Camera::GetProjection() {
    if (projectionStale) {
        float radians = fovDegrees * kDegreesToRadians;
        D3DXMatrixPerspectiveFovLH(&projection, radians, aspect, nearPlane, farPlane);
        projectionStale = false;
    }
    return projection;
}
