// TextOverlay: the font and screen shaders prepared for drawing text. The stats overlay
// (app/StatsOverlay.h) draws its lines with them.
#pragma once

#include "resources/ShaderParams.h"

class Renderer;

struct TextOverlay {
    int font = -1;
    int texturedShader = -1;
    int plainShader = -1;
    ShaderParams textured;
    ShaderParams plain;

    // Looks up "./data/Tahoma8.mofo", "./data/screenTex.hlsl" and "./data/screen.hlsl";
    // missing files leave -1 behind.
    void Setup(Renderer& renderer);
};
