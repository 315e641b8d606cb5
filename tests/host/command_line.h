// Running the command-line programs the tests check: lv2apply and our tools.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

inline std::string temporaryDirectory() {
    char dir[] = "/tmp/zt-host-XXXXXX";
    return mkdtemp(dir) != nullptr ? dir : "";
}

// Each argument in single quotes, for /bin/sh.
inline std::string shellWords(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        line += line.empty() ? "'" : " '";
        for (const char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += "'";
    }
    return line;
}

// Runs the command with standard error joined to standard output; returns
// its exit status (-1 when it could not be started) and keeps what it printed.
inline int runCommand(const std::vector<std::string>& words, std::string& printed) {
    FILE* pipe = popen((shellWords(words) + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[512];
    while (fgets(chunk, sizeof chunk, pipe) != nullptr) printed += chunk;
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
