// Light: a light the application owns and registers with the World by pointer.
//
// A light of the default kind (Unbounded, the demo's) reaches the whole screen with the
// fixed falloff of the full-screen light pass, whatever its range says. A light of any
// other kind is what a model file or a scene with many lights brings:
//   Point        falls off from full at its position to zero at `range` (world units);
//   Spot         the same inside a cone around `direction`: full within the inner cone,
//                fading to zero at the outer one;
//   Directional  shines along `direction` everywhere, without falloff.
// Point and spot lights shade only the pixels their range can reach, many of them in one
// draw, so a scene can hold thousands of small lights (World::boundLights).
// A light whose values are not finite, or whose range is not above zero, draws nothing.
#pragma once

#include <d3dx9.h>

#include <cstdint>

enum class LightKind : uint8_t { Unbounded, Point, Spot, Directional };

struct Light {
    D3DXVECTOR3 position{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 color{1.0f, 1.0f, 1.0f};  // red, green, blue
    float range = 100.0f;                  // read for point and spot lights only
    float reserved = 0.0f;  // kept for the record's interface; nothing reads it
    LightKind kind = LightKind::Unbounded;
    D3DXVECTOR3 direction{0.0f, -1.0f, 0.0f};  // where a spot or directional light shines
    float innerConeCos = 0.8660254f;           // cos 30 degrees
    float outerConeCos = 0.7071068f;           // cos 45 degrees
};

// Point and spot lights: the ones whose reach the light pass can bound.
inline bool HasRange(const Light& light) { return light.kind == LightKind::Point || light.kind == LightKind::Spot; }
