// A log that is on only while /tmp/zulvamoret.log exists as a regular file
// of the user running the host; its first integer is the level. Never
// touched from run.
#pragma once

extern const char* const kDiagnosticLogPath;

// Reads the level from the log file and announces the instance in it.
void openDiagnosticLog();
// Appends one formatted line when level <= the current level.
void logMessage(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The process-wide level the last openDiagnosticLog read.
int diagnosticLogLevel();

// Tests only: the log at another path, so that no test reads or writes the
// machine's log file; null gives the fixed path back.
void setDiagnosticLogPathForTesting(const char* path);
const char* diagnosticLogPath();
