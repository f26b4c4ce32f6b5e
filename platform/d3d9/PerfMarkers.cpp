// D3DPERF events as KHR_debug groups, so a GL frame debugger shows the engine's passes.
//
// With LUMARET_PASS_TIMES=FILE the events are also timed, and at process exit FILE gets one
// tab-separated line per event name: depth, count, wall ms, main-thread CPU ms and GL ms
// (totals over the run). Without LUMARET_PASS_SYNC the timing only reads two clocks per
// event, so the frame runs as it would: a pass's wall time then holds whatever waiting
// for the device happens inside it. LUMARET_PASS_SYNC=1 finishes the device at both edges
// of every top-level event and times it with a GL_TIME_ELAPSED query as well, so each
// pass carries its own device work (and the frame loses its overlap: measure frames
// without it).
#include "d3d9/GlDebug.h"

#include <SDL.h>
#include <d3d9.h>
#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

int gDepth = 0;

// A group needs a current context: the device's, windowed through SDL or headless EGL.
bool ContextIsCurrent() {
    if (SDL_WasInit(SDL_INIT_VIDEO) && SDL_GL_GetCurrentContext()) return true;
    return eglGetCurrentContext() != EGL_NO_CONTEXT;
}

int64_t Nanoseconds(clockid_t clock) {
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct PassTotals {
    int depth = 0;
    long count = 0;
    int64_t wall = 0, cpu = 0, gl = 0;
};

struct OpenEvent {
    std::string name;
    int64_t wall = 0, cpu = 0;
    GLuint query = 0;
};

class PassTimes {
public:
    PassTimes() {
        const char* file = std::getenv("LUMARET_PASS_TIMES");
        if (file && *file) file_ = file;
        const char* sync = std::getenv("LUMARET_PASS_SYNC");
        sync_ = sync && std::strcmp(sync, "1") == 0;
    }
    ~PassTimes() {
        if (file_.empty() || order_.empty()) return;
        FILE* out = std::fopen(file_.c_str(), "w");
        if (!out) {
            std::fprintf(stderr, "lumaret: LUMARET_PASS_TIMES: cannot write %s\n", file_.c_str());
            return;
        }
        std::fprintf(out, "# event\tdepth\tcount\twall_ms\tcpu_ms\tgl_ms\n");
        for (const std::string& name : order_) {
            const PassTotals& t = totals_[name];
            std::fprintf(out, "%s\t%d\t%ld\t%.3f\t%.3f\t%.3f\n", name.c_str(), t.depth, t.count, t.wall * 1e-6,
                         t.cpu * 1e-6, t.gl * 1e-6);
        }
        std::fclose(out);
    }
    bool on() const { return !file_.empty(); }

    void Begin(const std::string& name, int depth) {
        OpenEvent event;
        event.name = name;
        bool synced = sync_ && depth == 1;
        if (synced) {
            glFinish();
            glGenQueries(1, &event.query);
            glBeginQuery(GL_TIME_ELAPSED, event.query);
        }
        event.wall = Nanoseconds(CLOCK_MONOTONIC);
        event.cpu = Nanoseconds(CLOCK_THREAD_CPUTIME_ID);
        open_.push_back(std::move(event));
    }
    void End(int depth) {
        if (open_.empty()) return;
        OpenEvent event = std::move(open_.back());
        open_.pop_back();
        GLuint64 gl = 0;
        if (event.query) {
            glEndQuery(GL_TIME_ELAPSED);
            glFinish();
        }
        int64_t wall = Nanoseconds(CLOCK_MONOTONIC) - event.wall;
        int64_t cpu = Nanoseconds(CLOCK_THREAD_CPUTIME_ID) - event.cpu;
        if (event.query) {
            glGetQueryObjectui64v(event.query, GL_QUERY_RESULT, &gl);
            glDeleteQueries(1, &event.query);
        }
        auto [it, added] = totals_.try_emplace(event.name);
        if (added) order_.push_back(event.name);
        PassTotals& t = it->second;
        t.depth = depth;
        ++t.count;
        t.wall += wall;
        t.cpu += cpu;
        t.gl += static_cast<int64_t>(gl);
    }

private:
    std::string file_;
    bool sync_ = false;
    std::vector<OpenEvent> open_;
    std::map<std::string, PassTotals> totals_;
    std::vector<std::string> order_;
};

PassTimes& Times() {
    static PassTimes times;
    return times;
}

}  // namespace

int WINAPI D3DPERF_BeginEvent(D3DCOLOR, LPCWSTR name) {
    if (!ContextIsCurrent()) return -1;
    // Event names are plain ASCII in the engine; anything else shows as '?'.
    std::string text;
    for (const WCHAR* c = name; c && *c; ++c) text += (*c > 0 && *c < 128) ? static_cast<char>(*c) : '?';
    glPushDebugGroup(GL_DEBUG_SOURCE_APPLICATION, 0, -1, text.c_str());
    ++gDepth;
    if (Times().on()) Times().Begin(text, gDepth);
    return gDepth;
}

int WINAPI D3DPERF_EndEvent() {
    if (gDepth <= 0 || !ContextIsCurrent()) return -1;
    if (Times().on()) Times().End(gDepth);
    glPopDebugGroup();
    return --gDepth;
}
