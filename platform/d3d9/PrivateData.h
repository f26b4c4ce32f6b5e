// What SetPrivateData keeps on a resource: bytes (or a counted interface) by GUID.
//
// One GUID also names the resource for frame debuggers: text stored under
// kDebugObjectNameGuid (the debug-object-name GUID Direct3D's tools read) labels the
// resource's GL objects with glObjectLabel, so an apitrace dump or a RenderDoc capture
// shows the application's names.
#pragma once

#include "d3d9/RefCounted.h"

#include <d3d9.h>
#include <epoxy/gl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lumaret::platform {

inline constexpr GUID kDebugObjectNameGuid = {0x429b8c22, 0x9188, 0x4b0c, {0x87, 0x42, 0xac, 0xb0, 0xbf, 0x85, 0xc2, 0x00}};

class PrivateData {
public:
    PrivateData() = default;
    ~PrivateData();
    PrivateData(const PrivateData&) = delete;
    PrivateData& operator=(const PrivateData&) = delete;

    HRESULT Set(REFGUID guid, const void* data, DWORD size, DWORD flags);
    HRESULT Get(REFGUID guid, void* data, DWORD* size) const;
    HRESULT Free(REFGUID guid);

private:
    struct Entry {
        GUID guid;
        std::vector<uint8_t> bytes;
        IUnknown* object = nullptr;  // D3DSPD_IUNKNOWN: held, and released with the entry
    };
    void Drop(size_t index);
    std::vector<Entry> entries_;
};

// The label a debug name gives: its bytes up to the first NUL (names may be stored with or
// without one).
std::string DebugNameText(const void* data, DWORD size);

// Labels one GL object; nothing on a context without KHR_debug or for object 0.
void LabelGlObject(GLenum identifier, GLuint name, const std::string& label);

// The resource side of the three calls: keeps the data and, for a debug name, lets the
// resource label its GL objects (context current, as the device's calls are).
template <class Interface>
class WithPrivateData : public RefCounted<Interface> {
public:
    HRESULT SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override {
        HRESULT result = privateData_.Set(guid, data, size, flags);
        if (result == D3D_OK && IsDebugName(guid) && !(flags & D3DSPD_IUNKNOWN))
            ApplyDebugName(DebugNameText(data, size));
        return result;
    }
    HRESULT GetPrivateData(REFGUID guid, void* data, DWORD* size) override { return privateData_.Get(guid, data, size); }
    HRESULT FreePrivateData(REFGUID guid) override {
        HRESULT result = privateData_.Free(guid);
        if (result == D3D_OK && IsDebugName(guid)) ApplyDebugName(std::string());
        return result;
    }

protected:
    using RefCounted<Interface>::RefCounted;
    // Labels the resource's GL objects; an empty name removes the labels.
    virtual void ApplyDebugName(const std::string&) {}

private:
    static bool IsDebugName(REFGUID guid) { return std::memcmp(&guid, &kDebugObjectNameGuid, sizeof(GUID)) == 0; }
    PrivateData privateData_;
};

}  // namespace lumaret::platform
