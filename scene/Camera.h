// Camera: a look-at camera with a left-handed perspective projection. The view and the
// projection are cached and rebuilt only by the getters after a setter has changed
// their inputs; setters never rebuild anything themselves.
#pragma once

#include <d3dx9.h>

#include <cstdint>

class Camera {
public:
    void SetPosition(const D3DXVECTOR3& position);
    void SetTarget(const D3DXVECTOR3& lookAt);
    void SetPerspective(float fieldOfViewDegrees, float aspectRatio, float nearDistance, float farDistance);
    D3DXMATRIX GetView();
    D3DXMATRIX GetProjection();

    D3DXVECTOR3 eye{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 target{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 up{0.0f, 1.0f, 0.0f};
    uint32_t reserved = 0;  // kept for the record's interface; nothing reads it
    float fovDegrees = 45.0f;
    float aspect = 1.0f;
    float nearPlane = 1.0f;
    float farPlane = 1000.0f;
    D3DXMATRIX view = Identity();
    D3DXMATRIX projection = Identity();
    bool viewStale = true;
    // Stale from the start too, so a camera that never had SetPerspective still returns
    // the projection of its default field of view, aspect and planes.
    bool projectionStale = true;

private:
    static D3DXMATRIX Identity();
};
