#include "platform/launch.h"

#include "platform/clock.h"
#include "platform/instance_lock.h"
#include "tests/platform/fixtures.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

using namespace platform;
using namespace platform_test;

namespace {

// A program that records its pid in "<its path>.pid" and then turns into `sleep`.
const char* recorderScript = "#!/bin/sh\necho $$ > \"$0.tmp\"\n/bin/mv \"$0.tmp\" \"$0.pid\"\nexec /bin/sleep 30\n";

std::string waitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        std::string text = readFile(path);
        if (!text.empty() && text.back() == '\n')
            return text;
        sleepMs(10);
    }
    return {};
}

std::string linkTarget(const std::string& path) {
    char buffer[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// Fields of /proc/<pid>/stat after the command name: state, ppid, pgrp, session.
struct ProcStat {
    char state = '?';
    pid_t ppid = 0, pgrp = 0, session = 0;
};
ProcStat procStat(pid_t pid) {
    std::string text = readFile("/proc/" + std::to_string(pid) + "/stat");
    ProcStat st;
    size_t close = text.rfind(')');
    if (close != std::string::npos)
        std::istringstream(text.substr(close + 1)) >> st.state >> st.ppid >> st.pgrp >> st.session;
    return st;
}

bool noChildLeft() {
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

struct Detached {  // kills the started program when the test ends
    pid_t pid = -1;
    ~Detached() {
        if (pid > 0)
            kill(pid, SIGKILL);
    }
};

}  // namespace

TEST(Launch, StartedProgramRunsDetachedWithoutZombie) {
    TempDir dir;
    const std::string program = dir.path + "/recorder";
    writeFile(program, recorderScript, 0755);
    InstanceLock lock;  // descriptors of ours, with and without close-on-exec, stay ours
    ASSERT_EQ(acquireNamedLock("launch_test", lock), LockResult::Held);
    int plainFd = open("/dev/null", O_RDONLY);
    ASSERT_GE(plainFd, 3);

    ASSERT_TRUE(startDetached(program));
    close(plainFd);
    releaseNamedLock(lock);
    EXPECT_TRUE(noChildLeft());

    Detached started;
    started.pid = std::atoi(waitForFile(program + ".pid").c_str());
    ASSERT_GT(started.pid, 0);
    const std::string proc = "/proc/" + std::to_string(started.pid);
    for (int i = 0; i < 500 && readFile(proc + "/comm") != "sleep\n"; ++i)
        sleepMs(10);
    ASSERT_EQ(readFile(proc + "/comm"), "sleep\n");

    ProcStat st = procStat(started.pid);
    EXPECT_NE(st.session, getsid(0));
    EXPECT_NE(st.ppid, getpid());
    EXPECT_EQ(linkTarget(proc + "/fd/0"), "/dev/null");
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(linkTarget(proc + "/cwd"), cwd);
    // Inherited descriptors would stay open for good; sleep's own (locale files) close soon.
    const std::set<std::string> stdio{"0", "1", "2"};
    std::set<std::string> fds;
    for (int i = 0; i < 500 && fds != stdio; ++i) {
        if (i > 0)
            sleepMs(10);
        fds.clear();
        for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd"))
            fds.insert(entry.path().filename());
    }
    EXPECT_EQ(fds, stdio);
}

TEST(Launch, FailuresAreReportedAndLeaveNoChild) {
    TempDir dir;
    writeFile(dir.path + "/plain.txt", "text\n", 0644);
    const std::string cases[] = {"", dir.path + "/missing", dir.path + "/plain.txt", dir.path};
    for (const std::string& path : cases)
        EXPECT_FALSE(startDetached(path)) << path;
    EXPECT_TRUE(noChildLeft());
}

TEST(Launch, DefaultActionRunsProgramsAndHandsOtherFilesToXdgOpen) {
    TempDir dir;
    const std::string bin = dir.path + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    writeFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"" + dir.path + "/opened\"\n", 0755);
    const std::string program = dir.path + "/recorder";
    writeFile(program, recorderScript, 0755);
    const std::string document = dir.path + "/notes.txt";
    writeFile(document, "notes\n", 0644);
    ScopedEnv path("PATH", bin);

    Detached started;
    openWithDefaultAction(program);
    started.pid = std::atoi(waitForFile(program + ".pid").c_str());
    EXPECT_GT(started.pid, 0);

    openWithDefaultAction(document);
    EXPECT_EQ(waitForFile(dir.path + "/opened"), document + "\n");
    EXPECT_TRUE(noChildLeft());

    // Without xdg-open nothing is started and nothing is reported.
    unlink((dir.path + "/opened").c_str());
    unlink((bin + "/xdg-open").c_str());
    openWithDefaultAction(document);
    openWithDefaultAction(dir.path + "/missing");
    EXPECT_TRUE(noChildLeft());
}
