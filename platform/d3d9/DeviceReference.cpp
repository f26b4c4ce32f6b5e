#include "d3d9/DeviceReference.h"

#include "d3d9/Device.h"

namespace lumaret::platform {

DeviceReference::DeviceReference(Device* device) : device_(device) { device_->AddRef(); }

HRESULT HandOutDevice(Device* device, IDirect3DDevice9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    device->AddRef();
    *out = device;
    return D3D_OK;
}

DeviceReference::~DeviceReference() {
    if (held_) device_->Release();
}

void DeviceReference::Drop() {
    if (!held_) return;
    held_ = false;
    device_->Release();  // may end the device, which unbinds and so deletes the resource
}

void DeviceReference::Take() {
    if (held_) return;
    held_ = true;
    device_->AddRef();
}

}  // namespace lumaret::platform
