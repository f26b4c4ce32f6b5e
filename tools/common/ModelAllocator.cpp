// mimalloc's options for the programs that read models (viewer, srxconvert), set before
// main. A large model's arrays (Assimp's, the conversion's, the engine's) are hundreds of
// megabytes of memory fresh from the system, and on a virtual machine each 4 KiB page's
// first touch is a costly fault: taken in 2 MiB pages where the kernel has them (its
// transparent huge pages, on request), a million-triangle file loads with a quarter of
// the faults and a third less time, for a few percent more resident memory at the peak.
//
// The global operator new is replaced here rather than left to mimalloc's own: built as C,
// its throwing new calls abort() when memory runs out and no new-handler is set, so a
// model too large for the memory limit ended the program with no word. Its non-throwing
// form returns null, and throwing std::bad_alloc from here reaches the handlers that name
// the model and exit with its status.
#include <mimalloc.h>

#include <cstddef>
#include <new>

namespace {

struct LargePages {
    LargePages() { mi_option_enable(mi_option_large_os_pages); }
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
