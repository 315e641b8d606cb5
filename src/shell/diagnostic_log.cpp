#include "shell/diagnostic_log.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

const char* const kDiagnosticLogPath = "/tmp/zulvamoret.log";

namespace {

// The level is read from this many bytes at most, so that a huge file
// planted at the path costs instantiate nothing.
constexpr size_t kLevelPrefixBytes = 32;

// Written by every instantiate, which hosts may call from several threads.
std::atomic<int> gLogLevel{0};
std::atomic<const char*> gLogPath{kDiagnosticLogPath};

// /tmp is writable by every local user, so whatever stands at the path may
// have been planted. Only a regular file that the user running the host
// owns, with no other name (a hard link could lead to any of that user's
// files), counts; links are not followed, and opening never blocks (a FIFO)
// and never creates anything. Returns a descriptor or -1 as if absent.
int openLogFile(int access) {
    const int fd = open(gLogPath.load(std::memory_order_relaxed),
                        access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 || info.st_uid != geteuid()) {
        close(fd);
        return -1;
    }
    return fd;
}

// The first integer of the text as a "%d" conversion reads it: leading
// white space, an optional sign, digits. A level past the range of int
// stands at its end. No number gives 1.
int levelFromPrefix(const char* text, size_t length) {
    size_t at = 0;
    while (at < length && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
    const bool negative = at < length && text[at] == '-';
    if (at < length && (text[at] == '-' || text[at] == '+')) ++at;
    if (at == length || text[at] < '0' || text[at] > '9') return 1;
    long long value = 0;
    for (; at < length && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

int diagnosticLogLevel() { return gLogLevel.load(std::memory_order_relaxed); }

void openDiagnosticLog() {
    const int fd = openLogFile(O_RDONLY);
    if (fd < 0) {
        gLogLevel.store(0, std::memory_order_relaxed);
        return;
    }
    char prefix[kLevelPrefixBytes];
    size_t length = 0;
    while (length < sizeof prefix) {
        const ssize_t got = read(fd, prefix + length, sizeof prefix - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<size_t>(got);
    }
    close(fd);
    gLogLevel.store(levelFromPrefix(prefix, length), std::memory_order_relaxed);
    logMessage(0, "### log is active now ### ");
}

void logMessage(int level, const char* format, ...) {
    if (level > diagnosticLogLevel()) return;
    // Never O_CREAT: a file removed since the level was read stays removed.
    const int fd = openLogFile(O_WRONLY | O_APPEND);
    if (fd < 0) return;  // dropped: the log must never disturb the host
    FILE* file = fdopen(fd, "a");
    if (file == nullptr) {
        close(fd);
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}

void setDiagnosticLogPathForTesting(const char* path) {
    gLogPath.store(path != nullptr ? path : kDiagnosticLogPath, std::memory_order_relaxed);
}

const char* diagnosticLogPath() { return gLogPath.load(std::memory_order_relaxed); }
