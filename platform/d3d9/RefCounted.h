// COM-style reference counting for the layer's objects, and the device's hold on what is
// bound to it.
//
// An object either counts its own references, or forwards them to an owner: a texture's
// level surfaces count on their texture and the device's back buffer on the device, as in
// Direct3D 9, so that holding a surface keeps what it belongs to alive.
//
// Direct3D 9 also keeps everything that is bound (textures, targets, buffers, declarations,
// shaders) alive without counting it among the application's references: an object the
// application releases while it is bound lives on, still bound, until the device lets go
// of it, and a getter can hand it back meanwhile. Bindings are that second count.
// Both counts are atomic, as Direct3D 9's own are: objects made on one thread (the
// start-up worker's) are released on another.
#pragma once

#include <d3d9.h>

#include <atomic>

namespace lumaret::platform {

class SharedObject {
public:
    ULONG AddReference() {
        if (owner_) return owner_->AddReference();
        ULONG now = ++references_;
        if (now == 1) ApplicationReturned();
        return now;
    }
    ULONG ReleaseReference() {
        if (owner_) return owner_->ReleaseReference();
        ULONG remaining = --references_;
        if (remaining == 0) {
            // Nothing may touch the object after either call: both can end its life.
            if (bindings_ == 0)
                delete this;
            else
                ApplicationReleased();
        }
        return remaining;
    }
    virtual void HoldBinding() {
        if (owner_)
            owner_->HoldBinding();
        else
            ++bindings_;
    }
    virtual void DropBinding() {
        if (owner_) {
            owner_->DropBinding();
        } else if (--bindings_ == 0 && references_ == 0) {
            delete this;
        }
    }

protected:
    SharedObject() = default;
    explicit SharedObject(SharedObject* owner) : owner_(owner) {}
    virtual ~SharedObject() = default;
    SharedObject(const SharedObject&) = delete;
    SharedObject& operator=(const SharedObject&) = delete;

    // The application's last reference went while the object is bound, and a getter gave
    // one back. Resources let go of their device meanwhile, so the application's release
    // of the device still ends it.
    virtual void ApplicationReleased() {}
    virtual void ApplicationReturned() {}

private:
    SharedObject* owner_ = nullptr;
    std::atomic<ULONG> references_{1};
    std::atomic<ULONG> bindings_{0};
};

template <class Interface>
class RefCounted : public Interface, public SharedObject {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddReference(); }
    ULONG Release() override { return ReleaseReference(); }

protected:
    RefCounted() = default;
    explicit RefCounted(SharedObject* owner) : SharedObject(owner) {}
    ~RefCounted() override = default;
};

// The binding side of an interface pointer the application passed in: every object it can
// bind is one of the layer's. Null for null.
template <class Interface>
SharedObject* Bindable(Interface* object) {
    return object ? dynamic_cast<SharedObject*>(object) : nullptr;
}

}  // namespace lumaret::platform
