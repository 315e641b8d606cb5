// Linked into the test programs that build the engine in: the log is looked
// for where nothing can ever be (below /dev/null), so that no test reads or
// appends to the machine's log file, which other processes may be using.
#include "shell/diagnostic_log.h"

namespace {

struct PrivateLogPath {
    PrivateLogPath() { setDiagnosticLogPathForTesting(kUnreachableLogPath); }
    static constexpr const char* kUnreachableLogPath = "/dev/null/zulvamoret.log";
} gPrivateLogPath;

}  // namespace
