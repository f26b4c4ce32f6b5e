#include "d3d9/ShaderObject.h"

#include "d3d9/Device.h"
#include "d3d9/GlObjectCount.h"

namespace lumaret::platform {

template <class Interface>
ShaderObject<Interface>::ShaderObject(Device* device, GLuint program, UINT constantRegisters)
    : device_(device), program_(program), constantRegisters_(constantRegisters) {
    CountGlObjects(1);
}

template <class Interface>
ShaderObject<Interface>::~ShaderObject() {
    device_->MakeCurrent();
    glDeleteProgram(program_);
    CountGlObjects(-1);
}

template <class Interface>
HRESULT ShaderObject<Interface>::GetDevice(IDirect3DDevice9** device) { return HandOutDevice(device_.get(), device); }

template class ShaderObject<IDirect3DVertexShader9>;
template class ShaderObject<IDirect3DPixelShader9>;

}  // namespace lumaret::platform
