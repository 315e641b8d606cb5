// Counts the calls an audio callback must never make: allocation, file
// opening, locking and the C library's process-wide random generator (which
// belongs to the host and takes a lock). The test executable defines malloc, open,
// pthread_mutex_lock and the others itself, so every such call made by the
// process, the dlopen'ed plug-in included, passes through here. Only calls
// on the thread that armed the count, between arm and disarm, are counted.
#pragma once

#include <stddef.h>

struct ForbiddenCallCount {
    unsigned allocations = 0;  // malloc, calloc, realloc, the aligned ones, operator new
    unsigned releases = 0;     // free, operator delete
    unsigned fileOpens = 0;    // fopen, fopen64, open, open64, openat, openat64
    unsigned locks = 0;        // pthread mutex and rwlock locking
    unsigned randomCalls = 0;  // srand and rand
    long liveBlocks = 0;       // blocks allocated minus blocks released

    unsigned forbidden() const { return allocations + releases + fileOpens + locks + randomCalls; }
};

void armForbiddenCallCount();
ForbiddenCallCount disarmForbiddenCallCount();

// While armed, every allocation of at least `bytes` returns null (0: none).
void failAllocationsFrom(size_t bytes);
