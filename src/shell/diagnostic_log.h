// A log that is on only while /tmp/zulvamoret.log exists; its first integer
// is the level. Never touched from run.
#pragma once

extern const char* const kDiagnosticLogPath;

// Reads the level from the log file and announces the instance in it.
void openDiagnosticLog();
// Appends one formatted line when level <= the current level.
void logMessage(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The process-wide level the last openDiagnosticLog read.
int diagnosticLogLevel();
