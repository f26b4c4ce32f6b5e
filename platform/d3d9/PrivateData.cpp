#include "d3d9/PrivateData.h"

#include <algorithm>

namespace lumaret::platform {

namespace {
bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
}  // namespace

PrivateData::~PrivateData() {
    while (!entries_.empty()) Drop(entries_.size() - 1);
}

void PrivateData::Drop(size_t index) {
    // The entry leaves the list before its interface is released: a release may come back
    // to this resource.
    IUnknown* object = entries_[index].object;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    if (object) object->Release();
}

HRESULT PrivateData::Set(REFGUID guid, const void* data, DWORD size, DWORD flags) {
    if (!data && size > 0) return D3DERR_INVALIDCALL;
    Entry entry{guid, {}, nullptr};
    if (flags & D3DSPD_IUNKNOWN) {
        if (size != sizeof(IUnknown*)) return D3DERR_INVALIDCALL;
        std::memcpy(&entry.object, data, sizeof(IUnknown*));
        if (!entry.object) return D3DERR_INVALIDCALL;
        entry.object->AddRef();
    } else if (size > 0) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        entry.bytes.assign(bytes, bytes + size);
    }
    Free(guid);
    entries_.push_back(std::move(entry));
    return D3D_OK;
}

HRESULT PrivateData::Get(REFGUID guid, void* data, DWORD* size) const {
    if (!size) return D3DERR_INVALIDCALL;
    auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return SameGuid(e.guid, guid); });
    if (entry == entries_.end()) return D3DERR_NOTFOUND;
    DWORD needed = entry->object ? static_cast<DWORD>(sizeof(IUnknown*)) : static_cast<DWORD>(entry->bytes.size());
    if (!data) {
        *size = needed;
        return D3D_OK;
    }
    if (*size < needed) {
        *size = needed;
        return D3DERR_MOREDATA;
    }
    *size = needed;
    if (entry->object) {
        // The caller gets a reference of its own, as Direct3D 9 hands it out.
        entry->object->AddRef();
        std::memcpy(data, &entry->object, sizeof(IUnknown*));
    } else if (needed > 0) {
        std::memcpy(data, entry->bytes.data(), needed);
    }
    return D3D_OK;
}

HRESULT PrivateData::Free(REFGUID guid) {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (SameGuid(entries_[i].guid, guid)) {
            Drop(i);
            return D3D_OK;
        }
    return D3DERR_NOTFOUND;
}

std::string DebugNameText(const void* data, DWORD size) {
    if (!data) return std::string();
    const char* text = static_cast<const char*>(data);
    return std::string(text, strnlen(text, size));
}

void LabelGlObject(GLenum identifier, GLuint name, const std::string& label) {
    if (name == 0) return;
    static const bool hasDebug = epoxy_gl_version() >= 43 || epoxy_has_gl_extension("GL_KHR_debug");
    if (!hasDebug) return;
    static const GLint longest = [] {
        GLint value = 0;
        glGetIntegerv(GL_MAX_LABEL_LENGTH, &value);
        return value;
    }();
    // A label past the GL's limit is an error there; the start of a name still reads.
    GLsizei length = static_cast<GLsizei>(std::min<size_t>(label.size(), longest > 0 ? longest - 1 : 0));
    glObjectLabel(identifier, name, length, label.empty() ? nullptr : label.c_str());
}

}  // namespace lumaret::platform
