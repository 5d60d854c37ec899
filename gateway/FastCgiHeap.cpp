#include "FastCgiHeap.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A request that moved more than this may have left the heap holding
// memory it no longer needs; smaller ones leave too little to matter.
constexpr size_t kTrimAfterBytes = 1 << 20;
// Blocks this large (a request's body, its answer) come from the system
// and go back to it when freed.
constexpr int kMmapThresholdBytes = 128 * 1024;

}  // namespace

// A fixed threshold: glibc would otherwise raise it after the first large
// block freed and serve the later ones from the heap. One heap for all
// threads: glibc gives back the free memory inside a thread's own heap,
// but never the top of it, and a process serving for weeks would hold what
// the largest request ever needed, on each thread. Small blocks mostly
// come from each thread's cache, without the heap's lock.
void shapeHeapForRequests() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    mallopt(M_ARENA_MAX, 1);
#endif
}

void giveBackMemoryAfter(size_t bytesMoved) {
#ifdef __GLIBC__
    if (bytesMoved > kTrimAfterBytes)
        malloc_trim(0);
#else
    (void)bytesMoved;
#endif
}
