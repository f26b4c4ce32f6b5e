#include "resources/TextOverlay.h"

#include "render/Renderer.h"

void TextOverlay::Setup(Renderer& renderer) {
    font = renderer.FindFont("./data/Tahoma8.mofo");
    texturedShader = renderer.FindShader("./data/screenTex.hlsl");
    textured.stateFlags = kStateAlphaBlendNoDepth;
    textured.textures[0] = renderer.FindTexture("./data/Tahoma8.mofo");
    Renderer::BuildStateList(textured);
    plainShader = renderer.FindShader("./data/screen.hlsl");
    plain.stateFlags = kStateAlphaBlendNoDepth;
    plain.textures[0] = -1;
    Renderer::BuildStateList(plain);
}
