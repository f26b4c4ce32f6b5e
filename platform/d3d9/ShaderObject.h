// IDirect3DVertexShader9 and IDirect3DPixelShader9: one separable GL program each.
#pragma once

#include "d3d9/DeviceReference.h"
#include "d3d9/RefCounted.h"

#include <d3d9.h>
#include <epoxy/gl.h>

namespace lumaret::platform {

// A compiled program of either stage: a separable GL program.
template <class Interface>
class ShaderObject final : public RefCounted<Interface> {
public:
    ShaderObject(Device* device, GLuint program, UINT constantRegisters);
    ~ShaderObject() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    GLuint program() const { return program_; }
    UINT constantRegisters() const { return constantRegisters_; }

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }

private:
    DeviceReference device_;
    GLuint program_;
    UINT constantRegisters_;
};
using VertexShader = ShaderObject<IDirect3DVertexShader9>;
using PixelShader = ShaderObject<IDirect3DPixelShader9>;

}  // namespace lumaret::platform
