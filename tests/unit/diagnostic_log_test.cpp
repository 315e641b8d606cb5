// Each test points the log at a path in a directory of its own, so that no
// test reads, writes or depends on the machine's log file.
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

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
    char chunk[65536];
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

// Bytes this process has read through system calls so far.
long long bytesReadSoFar() {
    FILE* io = fopen("/proc/self/io", "r");
    long long bytes = -1;
    if (io != nullptr) {
        if (fscanf(io, "rchar: %lld", &bytes) != 1) bytes = -1;
        fclose(io);
    }
    return bytes;
}

class DiagnosticLog : public ::testing::Test {
protected:
    std::string dir, path, other;  // other: a file beside the log path
    const char* previousPath = nullptr;

    void SetUp() override {
        char name[] = "/tmp/zt-log-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        path = dir + "/zulvamoret.log";
        other = dir + "/other";
        previousPath = diagnosticLogPath();
        setDiagnosticLogPathForTesting(path.c_str());
    }

    void TearDown() override {
        removeAnything(path.c_str());
        removeAnything(other.c_str());
        openDiagnosticLog();  // level 0 again, read while the path is empty
        rmdir(dir.c_str());
        setDiagnosticLogPathForTesting(previousPath);
    }

    // Writes `content` to the log path, instantiates `count` times and
    // returns what was appended.
    std::string appendedAfter(const std::string& content, int count) {
        writeFile(path.c_str(), content);
        for (int i = 0; i < count; ++i) instantiateOnce();
        const std::string text = readFile(path.c_str());
        EXPECT_EQ(text.compare(0, content.size(), content), 0) << "the log must only ever grow";
        return text.size() >= content.size() ? text.substr(content.size()) : text;
    }
};

TEST_F(DiagnosticLog, NoFileMeansSilenceAndNoFileCreated) {
    instantiateOnce();
    EXPECT_EQ(diagnosticLogLevel(), 0);
    EXPECT_FALSE(pathExists(path.c_str()));
}

TEST_F(DiagnosticLog, LevelFromTheFileAndOneAnnouncementPerInstance) {
    EXPECT_EQ(appendedAfter("2\n", 3), std::string(kAnnouncement) + kAnnouncement + kAnnouncement);
    EXPECT_EQ(diagnosticLogLevel(), 2);
    // A message above the level leaves the file alone; one at it appends.
    const std::string before = readFile(path.c_str());
    logMessage(3, "too detailed");
    EXPECT_EQ(readFile(path.c_str()), before);
    logMessage(2, "units %d", 40);
    EXPECT_EQ(readFile(path.c_str()), before + "units 40\n");
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

// The number as "%d" reads it; one too large for an int stands at the end
// of the range, and only the first few dozen bytes are looked at.
TEST_F(DiagnosticLog, LevelIsTheFirstNumberOfABoundedPrefix) {
    const struct {
        std::string content;
        int level;
    } cases[] = {
        {" \t\n+7 and more", 7},
        {"12abc", 12},
        {"-", 1},
        {"99999999999999999999", INT_MAX},
        {"-99999999999999999999", INT_MIN},
        {std::string(64, ' ') + "5", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        appendedAfter(c.content, 1);
        EXPECT_EQ(diagnosticLogLevel(), c.level);
    }
}

// Anyone may plant a huge file in /tmp: instantiate reads a few bytes of
// it, not all of it.
TEST_F(DiagnosticLog, AHugeFileCostsInstantiateNothing) {
    const std::string digits(8 << 20, '7');
    writeFile(path.c_str(), digits);
    const long long before = bytesReadSoFar();
    if (before < 0) GTEST_SKIP() << "/proc/self/io is not available";
    instantiateOnce();
    const long long read = bytesReadSoFar() - before;
    EXPECT_LT(read, 64 * 1024) << "instantiate read " << read << " bytes of an 8 MiB log";
    EXPECT_EQ(diagnosticLogLevel(), INT_MAX);
    const std::string text = readFile(path.c_str());
    EXPECT_EQ(text.size(), digits.size() + strlen(kAnnouncement));
}

// /tmp is shared by every user: whatever stands at the path other than a
// regular file of the user running the host, with a single name, counts as
// absent. Nothing is read from it, nothing written through it, and it is
// left as it was.
TEST_F(DiagnosticLog, AnythingButTheUsersOwnSingleFileIsIgnored) {
    struct Case {
        const char* name;
        std::function<int(const std::string& path, const std::string& other)> plant;  // 0 when planted
        mode_t kind;
        bool needsRoot;
    };
    const Case cases[] = {
        {"symbolic link", [](const std::string& p, const std::string& o) { return symlink(o.c_str(), p.c_str()); },
         S_IFLNK, false},
        {"hard link", [](const std::string& p, const std::string& o) { return link(o.c_str(), p.c_str()); }, S_IFREG,
         false},
        {"FIFO", [](const std::string& p, const std::string&) { return mkfifo(p.c_str(), 0600); }, S_IFIFO, false},
        {"directory", [](const std::string& p, const std::string&) { return mkdir(p.c_str(), 0700); }, S_IFDIR, false},
        {"another user's file",
         [](const std::string& p, const std::string&) {
             writeFile(p.c_str(), "3\n");
             return chown(p.c_str(), 65534, 65534);
         },
         S_IFREG, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && geteuid() != 0) {
            printf("Not checked: %s (only root can give a file away)\n", c.name);
            continue;
        }
        writeFile(other.c_str(), "3\nprecious\n");
        ASSERT_EQ(c.plant(path, other), 0) << strerror(errno);
        instantiateOnce();  // must neither block on a FIFO nor log into anything
        EXPECT_EQ(diagnosticLogLevel(), 0);
        logMessage(0, "planted");
        EXPECT_EQ(readFile(other.c_str()), "3\nprecious\n");
        struct stat info;
        ASSERT_EQ(lstat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & S_IFMT, c.kind);
        if (c.kind == S_IFREG && info.st_nlink == 1) {
            EXPECT_EQ(readFile(path.c_str()), "3\n");
        }
        removeAnything(path.c_str());
    }
}

// The level is read once per instantiate; when the file is removed or
// replaced afterwards, messages are dropped: nothing is created, nothing
// written through what took its place, and the host is not disturbed.
TEST_F(DiagnosticLog, MessagesAreDroppedWhenTheFileTurnsIntoSomethingElse) {
    struct Case {
        const char* name;
        std::function<void(const std::string& path, const std::string& other)> replace;
    };
    const Case cases[] = {
        {"removed", [](const std::string&, const std::string&) {}},
        {"directory", [](const std::string& p, const std::string&) { mkdir(p.c_str(), 0700); }},
        {"hard link", [](const std::string& p, const std::string& o) { link(o.c_str(), p.c_str()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path.c_str(), "5\n");
        instantiateOnce();
        ASSERT_EQ(diagnosticLogLevel(), 5);
        removeAnything(path.c_str());
        writeFile(other.c_str(), "precious\n");
        c.replace(path, other);
        struct stat before = {};
        const bool existed = lstat(path.c_str(), &before) == 0;
        logMessage(1, "lost");
        struct stat after = {};
        EXPECT_EQ(lstat(path.c_str(), &after) == 0, existed) << "nothing created";
        EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
        EXPECT_EQ(readFile(other.c_str()), "precious\n");
        removeAnything(path.c_str());
    }
}

// Hosts may instantiate from several threads at once; the level is shared
// by all of them. Built with -DZT_SANITIZE=thread this is the race check.
TEST_F(DiagnosticLog, ConcurrentInstantiatesReadOneLevelAndAnnounceEach) {
    writeFile(path.c_str(), "3\n");
    constexpr int kThreads = 4, kEach = 5;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < kEach; ++i) {
                instantiateOnce();
                EXPECT_EQ(diagnosticLogLevel(), 3);
            }
        });
    for (std::thread& thread : threads) thread.join();
    std::string expected = "3\n";
    for (int i = 0; i < kThreads * kEach; ++i) expected += kAnnouncement;
    EXPECT_EQ(readFile(path.c_str()), expected);
}

}  // namespace
