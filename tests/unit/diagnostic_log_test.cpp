// These tests own the fixed log path while they run: whatever is there is
// moved aside first and put back afterwards.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "shell/diagnostic_log.h"
#include "shell/plugin_instance.h"

namespace {

const char kAnnouncement[] = "### log is active now ### \n";

bool pathExists(const char* path) {
    struct stat info;
    return lstat(path, &info) == 0;
}

std::string readFile(const char* path) {
    std::string text;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return text;
    char chunk[256];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    fclose(file);
    return text;
}

void writeFile(const char* path, const std::string& text) {
    FILE* file = fopen(path, "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
}

void removeAnything(const char* path) {
    if (unlink(path) != 0) rmdir(path);
}

// One instantiate, as a host makes it.
void instantiateOnce() {
    PluginInstance* self = createPluginInstance(48000.0);
    ASSERT_NE(self, nullptr);
    destroyPluginInstance(self);
}

class DiagnosticLog : public ::testing::Test {
protected:
    std::string saved;

    void SetUp() override {
        saved = std::string(kDiagnosticLogPath) + ".saved-by-test-" + std::to_string(getpid());
        if (pathExists(kDiagnosticLogPath)) {
            ASSERT_EQ(rename(kDiagnosticLogPath, saved.c_str()), 0);
        }
    }

    void TearDown() override {
        removeAnything(kDiagnosticLogPath);
        openDiagnosticLog();  // level 0 again, read while the path is empty
        if (pathExists(saved.c_str())) rename(saved.c_str(), kDiagnosticLogPath);
    }

    // Writes `content` to the log path, instantiates `count` times and
    // returns what was appended.
    std::string appendedAfter(const std::string& content, int count) {
        writeFile(kDiagnosticLogPath, content);
        for (int i = 0; i < count; ++i) instantiateOnce();
        const std::string text = readFile(kDiagnosticLogPath);
        EXPECT_EQ(text.compare(0, content.size(), content), 0) << "the log must only ever grow";
        return text.size() >= content.size() ? text.substr(content.size()) : text;
    }
};

TEST_F(DiagnosticLog, NoFileMeansSilenceAndNoFileCreated) {
    instantiateOnce();
    EXPECT_EQ(diagnosticLogLevel(), 0);
    EXPECT_FALSE(pathExists(kDiagnosticLogPath));
}

TEST_F(DiagnosticLog, LevelFromTheFileAndOneAnnouncementPerInstance) {
    EXPECT_EQ(appendedAfter("2\n", 3), std::string(kAnnouncement) + kAnnouncement + kAnnouncement);
    EXPECT_EQ(diagnosticLogLevel(), 2);
    // A message above the level leaves the file alone; one at it appends.
    const std::string before = readFile(kDiagnosticLogPath);
    logMessage(3, "too detailed");
    EXPECT_EQ(readFile(kDiagnosticLogPath), before);
    logMessage(2, "units %d", 40);
    EXPECT_EQ(readFile(kDiagnosticLogPath), before + "units 40\n");
}

TEST_F(DiagnosticLog, FilesWithoutANumberLogAtLevelOne) {
    for (const char* content : {"", "verbose please\n", "   \n"}) {
        SCOPED_TRACE(content);
        EXPECT_EQ(appendedAfter(content, 1), kAnnouncement);
        EXPECT_EQ(diagnosticLogLevel(), 1);
    }
}

TEST_F(DiagnosticLog, LevelZeroAnnouncesAndNegativeLevelsDoNot) {
    EXPECT_EQ(appendedAfter("0", 1), kAnnouncement);
    EXPECT_EQ(diagnosticLogLevel(), 0);
    EXPECT_EQ(appendedAfter("-1\n", 2), "");
    EXPECT_EQ(diagnosticLogLevel(), -1);
}

// /tmp is shared by every user: a link planted at the log path must not
// make the host append to the file it points at.
TEST_F(DiagnosticLog, SymlinkAtThePathIsNotFollowed) {
    char target[] = "/tmp/zt-log-target-XXXXXX";
    const int fd = mkstemp(target);
    ASSERT_GE(fd, 0);
    close(fd);
    writeFile(target, "3\nprecious\n");
    ASSERT_EQ(symlink(target, kDiagnosticLogPath), 0);
    instantiateOnce();
    EXPECT_EQ(diagnosticLogLevel(), 0);
    logMessage(0, "planted");
    EXPECT_EQ(readFile(target), "3\nprecious\n");
    struct stat info;
    ASSERT_EQ(lstat(kDiagnosticLogPath, &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    unlink(target);
}

TEST_F(DiagnosticLog, OnlyRegularFilesAreRead) {
    ASSERT_EQ(mkfifo(kDiagnosticLogPath, 0600), 0);
    instantiateOnce();  // must neither block on the FIFO nor log into it
    EXPECT_EQ(diagnosticLogLevel(), 0);
    removeAnything(kDiagnosticLogPath);

    ASSERT_EQ(mkdir(kDiagnosticLogPath, 0700), 0);
    instantiateOnce();
    EXPECT_EQ(diagnosticLogLevel(), 0);
    struct stat info;
    ASSERT_EQ(lstat(kDiagnosticLogPath, &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

// The level is read once per instantiate; a file made unusable afterwards
// drops messages instead of disturbing the host.
TEST_F(DiagnosticLog, MessagesAreDroppedWhenTheFileTurnsIntoSomethingElse) {
    writeFile(kDiagnosticLogPath, "5\n");
    instantiateOnce();
    ASSERT_EQ(diagnosticLogLevel(), 5);
    removeAnything(kDiagnosticLogPath);
    ASSERT_EQ(mkdir(kDiagnosticLogPath, 0700), 0);
    logMessage(1, "lost");
    struct stat info;
    ASSERT_EQ(lstat(kDiagnosticLogPath, &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

}  // namespace
