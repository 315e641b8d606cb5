// Loading the shared object sets the loading thread's floating-point mode.
// Checked in a child process on a private copy of the library, so that the
// initialiser surely runs on a thread whose mode the test chose.
#include <gtest/gtest.h>

#if defined(__x86_64__) || defined(__SSE2__)
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xmmintrin.h>

#include <string>

#include "support/mxcsr_bits.h"

namespace {

bool copyFile(const std::string& from, const std::string& to) {
    FILE* in = fopen(from.c_str(), "rb");
    if (in == nullptr) return false;
    FILE* out = fopen(to.c_str(), "wb");
    bool ok = out != nullptr;
    char chunk[65536];
    size_t got;
    while (ok && (got = fread(chunk, 1, sizeof chunk, in)) > 0) ok = fwrite(chunk, 1, got, out) == got;
    fclose(in);
    if (out != nullptr && fclose(out) != 0) ok = false;
    return ok;
}

}  // namespace

TEST(HostFloatMode, LoadingSetsFlushToZeroAndKeepsExceptionsMasked) {
    char dir[] = "/tmp/zt-load-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string copy = std::string(dir) + "/libzulvamoret-tarnwise.so";
    ASSERT_TRUE(copyFile(ZT_BUNDLE_DIR "/libzulvamoret-tarnwise.so", copy));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Everything masked, but the other bits far from the engine's mode.
        _mm_setcsr(kMxcsrExceptionMasks | kMxcsrDenormalsAreZero | kMxcsrRoundingBits);
        void* library = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
        const uint32_t mode = _mm_getcsr();
        if (library == nullptr) _exit(10);
        if ((mode & kMxcsrExceptionMasks) != kMxcsrExceptionMasks) _exit(11);
        if ((mode & kMxcsrFlushToZero) == 0) _exit(12);
        if ((mode & kMxcsrDenormalsAreZero) != 0) _exit(13);
        if ((mode & kMxcsrRoundingBits) != 0) _exit(14);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    unlink(copy.c_str());
    rmdir(dir);
    ASSERT_TRUE(WIFEXITED(status));
    // 10: not loadable, 11: exceptions unmasked, 12: no flush-to-zero,
    // 13: denormals-are-zero left on, 14: not rounding to nearest.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

#endif
