#include "platform/instance_lock.h"

#include "tests/platform/fixtures.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;
using namespace platform_test;

namespace {

// Every test process gets its own lock folder (not yet existing) before the first lock call.
struct LockFolder {
    TempDir root;
    LockFolder() { setenv("PORTWARDEN_LOCK_DIR", (root.path + "/locks").c_str(), 1); }
};
LockFolder lockFolder;

std::vector<std::string> entriesOf(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// A child that takes `name`, reports the result through a pipe and then waits to be killed.
pid_t startHolder(const std::string& name, LockResult& result) {
    int link[2];
    if (pipe(link) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        InstanceLock lock;
        char r = static_cast<char>(acquireNamedLock(name, lock));
        if (write(link[1], &r, 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    close(link[1]);
    char r = -1;
    result = read(link[0], &r, 1) == 1 ? static_cast<LockResult>(r) : LockResult::CreationFailed;
    close(link[0]);
    return pid;
}

}  // namespace

TEST(InstanceLock, NameConversion) {
    const std::pair<std::string, std::string> cases[] = {
        {"/srv/a", "_srv_a"},
        {"D:\\Games\\Server1", "D:_Games_Server1"},
        {"61116_KST_SERVER_TO_LISTEN", "61116_KST_SERVER_TO_LISTEN"},
    };
    for (const auto& [text, name] : cases)
        EXPECT_EQ(lockNameFor(text), name) << text;
}

TEST(InstanceLock, SecondHolderIsRefusedUntilRelease) {
    const std::string name = lockNameFor("/srv/games/first");
    EXPECT_FALSE(isNamedLockHeld(name));
    InstanceLock lock;
    ASSERT_EQ(acquireNamedLock(name, lock), LockResult::Held);
    struct stat st {};
    ASSERT_EQ(stat(lockDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u);

    EXPECT_TRUE(isNamedLockHeld(name));
    InstanceLock again;
    EXPECT_EQ(acquireNamedLock(name, again), LockResult::AlreadyHeld);
    EXPECT_EQ(again.fd, -1);
    // Another process is refused and sees the lock held; probing did not release it.
    EXPECT_EQ(runInChild([&] {
                  InstanceLock other;
                  return isNamedLockHeld(name) && acquireNamedLock(name, other) == LockResult::AlreadyHeld ? 0 : 1;
              }),
              0);
    EXPECT_TRUE(isNamedLockHeld(name));

    releaseNamedLock(lock);
    EXPECT_EQ(lock.fd, -1);
    EXPECT_FALSE(isNamedLockHeld(name));
    EXPECT_EQ(runInChild([&] {
                  InstanceLock other;
                  return acquireNamedLock(name, other) == LockResult::Held ? 0 : 1;
              }),
              0);
}

TEST(InstanceLock, FreedWhenHolderIsKilled) {
    const std::string name = "61116_KST_SERVER_TO_LISTEN";
    LockResult holderResult = LockResult::CreationFailed;
    ChildGuard holder(startHolder(name, holderResult));
    ASSERT_GT(holder.pid, 0);
    ASSERT_EQ(holderResult, LockResult::Held);

    EXPECT_TRUE(isNamedLockHeld(name));
    InstanceLock lock;
    EXPECT_EQ(acquireNamedLock(name, lock), LockResult::AlreadyHeld);

    holder.stop();  // SIGKILL
    EXPECT_FALSE(isNamedLockHeld(name));
    EXPECT_EQ(acquireNamedLock(name, lock), LockResult::Held);
    releaseNamedLock(lock);
}

TEST(InstanceLock, LongAndOddNamesStayDistinctInsideTheFolder) {
    std::string deep;
    for (int i = 0; i < 400; ++i)
        deep += "/folder" + std::to_string(i);
    const std::vector<std::string> names = {
        lockNameFor(deep + "/server1"),
        lockNameFor(deep + "/server2"),
        lockNameFor("/other" + deep + "/server1"),  // same tail as the first, longer head
        std::string(300, 'x'),
        "..", ".", "", "../../escaped", std::string("nul\0inside", 10), std::string("nul\0other", 9),
    };
    std::vector<InstanceLock> locks(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(acquireNamedLock(names[i], locks[i]), LockResult::Held) << i;
    EXPECT_EQ(runInChild([&] {
                  int wrong = 0;
                  for (const std::string& name : names) {
                      InstanceLock other;
                      wrong += !isNamedLockHeld(name) || acquireNamedLock(name, other) != LockResult::AlreadyHeld;
                  }
                  return wrong;
              }),
              0);

    for (const std::string& entry : entriesOf(lockDirectory())) {
        struct stat st {};
        ASSERT_EQ(lstat((lockDirectory() + "/" + entry).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << entry;
    }
    EXPECT_EQ(entriesOf(lockFolder.root.path), std::vector<std::string>{"locks"});
    for (InstanceLock& lock : locks)
        releaseNamedLock(lock);
    EXPECT_FALSE(isNamedLockHeld(names[0]));
}

TEST(InstanceLock, UnusableLockFileIsCreationFailure) {
    InstanceLock lock;
    ASSERT_EQ(acquireNamedLock("probe", lock), LockResult::Held);  // creates the folder
    releaseNamedLock(lock);
    ASSERT_EQ(mkdir((lockDirectory() + "/blocked.lock").c_str(), 0755), 0);
    EXPECT_EQ(acquireNamedLock("blocked", lock), LockResult::CreationFailed);
    EXPECT_EQ(lock.fd, -1);
    EXPECT_FALSE(isNamedLockHeld("blocked"));
}
