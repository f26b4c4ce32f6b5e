#include "d3d9/Query.h"

#include "d3d9/Device.h"
#include "d3d9/GlObjectCount.h"

namespace lumaret::platform {

namespace {

// GL timestamps count nanoseconds.
constexpr UINT64 kTimestampFrequency = 1000000000ull;

}  // namespace

Query::Query(Device* device, D3DQUERYTYPE type) : device_(device), type_(type) {
    device_->MakeCurrent();
    if (type_ == D3DQUERYTYPE_OCCLUSION) glCreateQueries(GL_SAMPLES_PASSED, 1, &query_);
    if (type_ == D3DQUERYTYPE_TIMESTAMP) glCreateQueries(GL_TIMESTAMP, 1, &query_);
    if (query_) CountGlObjects(1);
}

Query::~Query() {
    device_->MakeCurrent();
    if (begun_) glEndQuery(GL_SAMPLES_PASSED);
    if (query_) {
        glDeleteQueries(1, &query_);
        CountGlObjects(-1);
    }
    if (fence_) glDeleteSync(fence_);
}

HRESULT Query::GetDevice(IDirect3DDevice9** device) { return HandOutDevice(device_.get(), device); }

DWORD Query::GetDataSize() {
    switch (type_) {
    case D3DQUERYTYPE_OCCLUSION: return sizeof(DWORD);
    case D3DQUERYTYPE_TIMESTAMP:
    case D3DQUERYTYPE_TIMESTAMPFREQ: return sizeof(UINT64);
    default: return sizeof(BOOL);
    }
}

HRESULT Query::Issue(DWORD issueFlags) {
    device_->MakeCurrent();
    if (type_ == D3DQUERYTYPE_OCCLUSION) {
        if (issueFlags & D3DISSUE_BEGIN) {
            if (begun_) glEndQuery(GL_SAMPLES_PASSED);
            glBeginQuery(GL_SAMPLES_PASSED, query_);
            begun_ = true;
            issued_ = false;
        }
        if ((issueFlags & D3DISSUE_END) && begun_) {
            glEndQuery(GL_SAMPLES_PASSED);
            begun_ = false;
            issued_ = true;
        }
        return D3D_OK;
    }
    // A timestamp and a frequency have no begin; Direct3D 9 refuses one.
    if ((issueFlags & D3DISSUE_BEGIN) && (type_ == D3DQUERYTYPE_TIMESTAMP || type_ == D3DQUERYTYPE_TIMESTAMPFREQ))
        return D3DERR_INVALIDCALL;
    if (type_ == D3DQUERYTYPE_TIMESTAMP && (issueFlags & D3DISSUE_END)) {
        glQueryCounter(query_, GL_TIMESTAMP);
        issued_ = true;
        return D3D_OK;
    }
    // Events, frequencies and disjoint brackets are done when the device has reached them.
    if (issueFlags & D3DISSUE_END) {
        if (fence_) glDeleteSync(fence_);
        fence_ = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        issued_ = true;
    }
    return D3D_OK;
}

HRESULT Query::GetData(void* data, DWORD size, DWORD getDataFlags) {
    if (!issued_) return D3DERR_INVALIDCALL;
    device_->MakeCurrent();
    if (query_) {
        GLuint available = 0;
        if (getDataFlags & D3DGETDATA_FLUSH) glFlush();
        glGetQueryObjectuiv(query_, GL_QUERY_RESULT_AVAILABLE, &available);
        if (!available) return S_FALSE;
        if (type_ == D3DQUERYTYPE_TIMESTAMP) {
            GLuint64 nanoseconds = 0;
            glGetQueryObjectui64v(query_, GL_QUERY_RESULT, &nanoseconds);
            if (data && size >= sizeof(UINT64)) *static_cast<UINT64*>(data) = nanoseconds;
            return D3D_OK;
        }
        GLuint samples = 0;
        glGetQueryObjectuiv(query_, GL_QUERY_RESULT, &samples);
        if (data && size >= sizeof(DWORD)) *static_cast<DWORD*>(data) = samples;
        return D3D_OK;
    }
    GLint status = GL_UNSIGNALED;
    glGetSynciv(fence_, GL_SYNC_STATUS, sizeof(status), nullptr, &status);
    if (status != GL_SIGNALED) {
        if (getDataFlags & D3DGETDATA_FLUSH) glFlush();
        return S_FALSE;
    }
    if (type_ == D3DQUERYTYPE_TIMESTAMPFREQ) {
        if (data && size >= sizeof(UINT64)) *static_cast<UINT64*>(data) = kTimestampFrequency;
        return D3D_OK;
    }
    // GL's core profile keeps one clock for the context's life: never disjoint.
    BOOL answer = type_ == D3DQUERYTYPE_TIMESTAMPDISJOINT ? FALSE : TRUE;
    if (data && size >= sizeof(BOOL)) *static_cast<BOOL*>(data) = answer;
    return D3D_OK;
}

}  // namespace lumaret::platform
