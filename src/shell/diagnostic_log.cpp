#include "shell/diagnostic_log.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const kDiagnosticLogPath = "/tmp/zulvamoret.log";

namespace {

int gLogLevel = 0;

// /tmp is world-writable: never follow a symbolic link there and never write
// to anything but a regular file, or anyone could make the host append to a
// file of their choosing. Returns a stream or null.
FILE* openLogFile(int flags, const char* mode) {
    const int fd = open(kDiagnosticLogPath, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, mode);
    if (file == nullptr) close(fd);
    return file;
}

}  // namespace

int diagnosticLogLevel() { return gLogLevel; }

void openDiagnosticLog() {
    FILE* file = openLogFile(O_RDONLY, "r");
    if (file == nullptr) {
        gLogLevel = 0;
        return;
    }
    int level = 0;
    gLogLevel = fscanf(file, "%d", &level) == 1 ? level : 1;
    fclose(file);
    logMessage(0, "### log is active now ### ");
}

void logMessage(int level, const char* format, ...) {
    if (level > gLogLevel) return;
    FILE* file = openLogFile(O_WRONLY | O_APPEND | O_CREAT, "a");
    if (file == nullptr) return;  // dropped: the log must never disturb the host
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}
