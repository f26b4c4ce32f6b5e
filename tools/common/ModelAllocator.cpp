// mimalloc's options for the programs that read models (viewer, srxconvert), set before
// main. A large model's arrays (Assimp's, the conversion's, the engine's) are hundreds of
// megabytes of memory fresh from the system, and on a virtual machine each 4 KiB page's
// first touch is a costly fault: taken in 2 MiB pages where the kernel has them (its
// transparent huge pages, on request), a million-triangle file loads with a quarter of
// the faults and a third less time, for a few percent more resident memory at the peak.
// Small models gain as much in the start-up (a quarter of the viewer's time on a small
// 3DS file, against a few megabytes more resident).
//
// The global operator new is replaced here rather than left to mimalloc's own: built as C,
// its throwing new calls abort() when memory runs out and no new-handler is set, so a
// model too large for the memory limit ended the program with no word. Its non-throwing
// form returns null, and throwing std::bad_alloc from here reaches the handlers that name
// the model and exit with its status.
#include <mimalloc.h>
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Advises huge pages for the mapping that holds address. mimalloc's option reaches only the
// segments it maps from now on; the main thread's first segment was mapped while the
// libraries loaded, before any option of ours was set, and it serves every allocation of a
// small model (the device's render targets among them: fresh memory that the driver
// zero-fills at start): without the advice each of its pages faults alone.
void AdviseHugePagesAround(const void* address) {
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    if (!maps) return;
    auto wanted = reinterpret_cast<std::uintptr_t>(address);
    char line[512];
    bool lineStart = true;  // a long path comes in pieces: only a line's first one has a range
    while (std::fgets(line, sizeof line, maps)) {
        bool ranged = lineStart;
        lineStart = std::strchr(line, '\n') != nullptr;
        unsigned long start = 0, end = 0;
        if (!ranged || std::sscanf(line, "%lx-%lx", &start, &end) != 2 || wanted < start || wanted >= end) continue;
        madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
        break;
    }
    std::fclose(maps);
}

struct LargePages {
    LargePages() {
        mi_option_enable(mi_option_large_os_pages);
        void* probe = mi_malloc(1);
        AdviseHugePagesAround(probe);
        mi_free(probe);
    }
} largePages;

void* Allocate(std::size_t n) {
    if (void* p = mi_new_nothrow(n)) return p;
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t n, std::align_val_t alignment) {
    if (void* p = mi_new_aligned_nothrow(n, static_cast<std::size_t>(alignment))) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return mi_new_nothrow(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return mi_new_nothrow(n); }
void* operator new(std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return mi_new_aligned_nothrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return mi_new_aligned_nothrow(n, static_cast<std::size_t>(a));
}

void operator delete(void* p) noexcept { mi_free(p); }
void operator delete[](void* p) noexcept { mi_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { mi_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { mi_free(p); }
void operator delete(void* p, std::size_t n) noexcept { mi_free_size(p, n); }
void operator delete[](void* p, std::size_t n) noexcept { mi_free_size(p, n); }
void operator delete(void* p, std::align_val_t a) noexcept { mi_free_aligned(p, static_cast<std::size_t>(a)); }
void operator delete[](void* p, std::align_val_t a) noexcept { mi_free_aligned(p, static_cast<std::size_t>(a)); }
void operator delete(void* p, std::align_val_t a, const std::nothrow_t&) noexcept {
    mi_free_aligned(p, static_cast<std::size_t>(a));
}
void operator delete[](void* p, std::align_val_t a, const std::nothrow_t&) noexcept {
    mi_free_aligned(p, static_cast<std::size_t>(a));
}
void operator delete(void* p, std::size_t n, std::align_val_t a) noexcept {
    mi_free_size_aligned(p, n, static_cast<std::size_t>(a));
}
void operator delete[](void* p, std::size_t n, std::align_val_t a) noexcept {
    mi_free_size_aligned(p, n, static_cast<std::size_t>(a));
}
