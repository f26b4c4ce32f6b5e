// COM-style reference counting for the layer's objects.
//
// An object either counts its own references, or forwards them to an owner: a texture's
// level surfaces count on their texture and the device's back buffer on the device, as in
// Direct3D 9, so that holding a surface keeps what it belongs to alive.
#pragma once

#include <d3d9.h>

namespace lumaret::platform {

template <class Interface>
class RefCounted : public Interface {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override {
        if (owner_) return owner_->AddRef();
        return ++references_;
    }
    ULONG Release() override {
        if (owner_) return owner_->Release();
        ULONG remaining = --references_;
        if (remaining == 0) delete this;
        return remaining;
    }

protected:
    RefCounted() = default;
    explicit RefCounted(IUnknown* owner) : owner_(owner) {}
    ~RefCounted() override = default;

private:
    IUnknown* owner_ = nullptr;
    ULONG references_ = 1;
};

}  // namespace lumaret::platform
