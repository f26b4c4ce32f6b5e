// What every resource of the device shares: a counted reference on its device.
//
// Every resource the application holds keeps a reference on its device (as in Direct3D 9),
// so GL objects are deleted while the context still exists. The device holds what is bound
// (RefCounted.h): a resource the application released while bound lets go of the device,
// and is deleted when the device unbinds it, with the context still there.
#pragma once

#include <d3d9.h>

namespace lumaret::platform {

class Device;

// A counted reference on the device, declared first among a resource's members so that it
// is released last, after the resource's GL objects.
class DeviceReference {
public:
    explicit DeviceReference(Device* device);
    ~DeviceReference();
    DeviceReference(const DeviceReference&) = delete;
    DeviceReference& operator=(const DeviceReference&) = delete;
    Device* get() const { return device_; }
    Device* operator->() const { return device_; }
    // While only the device holds the resource, the resource does not hold the device.
    void Drop();
    void Take();

private:
    Device* device_;
    bool held_ = true;
};

// Hands the device to a resource's GetDevice caller, with a reference added.
HRESULT HandOutDevice(Device* device, IDirect3DDevice9** out);

}  // namespace lumaret::platform
