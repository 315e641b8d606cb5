// The interposers. Allocation forwards to glibc's __libc_* entry points,
// which need no symbol look-up; the rest find the next definition with
// dlsym(RTLD_NEXT) on first use (dlsym may allocate, which lands here and is
// forwarded without recursion).
#undef _FORTIFY_SOURCE
#include "rtcheck/forbidden_calls.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <new>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

thread_local bool tArmed = false;
thread_local size_t tFailFrom = 0;
thread_local ForbiddenCallCount tCount;

bool failing(size_t bytes) { return tArmed && tFailFrom != 0 && bytes >= tFailFrom; }

void* noteAllocation(void* block) {
    if (tArmed) {
        ++tCount.allocations;
        if (block != nullptr) ++tCount.liveBlocks;
    }
    return block;
}

void noteRelease(void* block) {
    if (tArmed) {
        ++tCount.releases;
        if (block != nullptr) --tCount.liveBlocks;
    }
}

void noteFileOpen() {
    if (tArmed) ++tCount.fileOpens;
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// open() and its relatives: the mode argument is there only when the flags
// can create a file.
template <typename Real, typename... Leading>
int forwardOpen(Real real, int flags, va_list rest, Leading... leading) {
    noteFileOpen();
    const int mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, int) : 0;
    return real(leading..., flags, mode);
}

}  // namespace

void armForbiddenCallCount() {
    tCount = ForbiddenCallCount();
    tArmed = true;
}

ForbiddenCallCount disarmForbiddenCallCount() {
    tArmed = false;
    tFailFrom = 0;
    return tCount;
}

void failAllocationsFrom(size_t bytes) { tFailFrom = bytes; }

extern "C" {

void* malloc(size_t bytes) { return noteAllocation(failing(bytes) ? nullptr : __libc_malloc(bytes)); }

void* calloc(size_t count, size_t size) {
    return noteAllocation(failing(count * size) ? nullptr : __libc_calloc(count, size));
}

void* realloc(void* block, size_t bytes) {
    if (failing(bytes)) return noteAllocation(nullptr);
    void* moved = __libc_realloc(block, bytes);
    if (block != nullptr && (moved != nullptr || bytes == 0)) noteRelease(block);
    return noteAllocation(moved);
}

void free(void* block) {
    noteRelease(block);
    __libc_free(block);
}

void* memalign(size_t alignment, size_t bytes) {
    return noteAllocation(failing(bytes) ? nullptr : __libc_memalign(alignment, bytes));
}

void* aligned_alloc(size_t alignment, size_t bytes) { return memalign(alignment, bytes); }

int posix_memalign(void** result, size_t alignment, size_t bytes) {
    *result = memalign(alignment, bytes);
    return *result == nullptr && bytes != 0 ? 12 /* ENOMEM */ : 0;
}

FILE* fopen(const char* path, const char* mode) {
    noteFileOpen();
    static const auto real = next<FILE* (*)(const char*, const char*)>("fopen");
    return real(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    noteFileOpen();
    static const auto real = next<FILE* (*)(const char*, const char*)>("fopen64");
    return real(path, mode);
}

int open(const char* path, int flags, ...) {
    static const auto real = next<int (*)(const char*, int, ...)>("open");
    va_list rest;
    va_start(rest, flags);
    const int fd = forwardOpen(real, flags, rest, path);
    va_end(rest);
    return fd;
}

int open64(const char* path, int flags, ...) {
    static const auto real = next<int (*)(const char*, int, ...)>("open64");
    va_list rest;
    va_start(rest, flags);
    const int fd = forwardOpen(real, flags, rest, path);
    va_end(rest);
    return fd;
}

int openat(int directory, const char* path, int flags, ...) {
    static const auto real = next<int (*)(int, const char*, int, ...)>("openat");
    va_list rest;
    va_start(rest, flags);
    const int fd = forwardOpen(real, flags, rest, directory, path);
    va_end(rest);
    return fd;
}

int openat64(int directory, const char* path, int flags, ...) {
    static const auto real = next<int (*)(int, const char*, int, ...)>("openat64");
    va_list rest;
    va_start(rest, flags);
    const int fd = forwardOpen(real, flags, rest, directory, path);
    va_end(rest);
    return fd;
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    if (tArmed) ++tCount.locks;
    static const auto real = next<int (*)(pthread_mutex_t*)>("pthread_mutex_lock");
    return real(mutex);
}

int pthread_mutex_trylock(pthread_mutex_t* mutex) {
    if (tArmed) ++tCount.locks;
    static const auto real = next<int (*)(pthread_mutex_t*)>("pthread_mutex_trylock");
    return real(mutex);
}

int pthread_rwlock_rdlock(pthread_rwlock_t* lock) {
    if (tArmed) ++tCount.locks;
    static const auto real = next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_rdlock");
    return real(lock);
}

int pthread_rwlock_wrlock(pthread_rwlock_t* lock) {
    if (tArmed) ++tCount.locks;
    static const auto real = next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_wrlock");
    return real(lock);
}

void srand(unsigned seed) {
    if (tArmed) ++tCount.randomCalls;
    static const auto real = next<void (*)(unsigned)>("srand");
    real(seed);
}

int rand() {
    if (tArmed) ++tCount.randomCalls;
    static const auto real = next<int (*)()>("rand");
    return real();
}

}  // extern "C"

// The replaceable global operators, so that C++ allocation is seen even
// where the library's own operator new would not call malloc through the
// dynamic linker.
void* operator new(size_t bytes) {
    void* block = malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void* operator new[](size_t bytes) { return operator new(bytes); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
