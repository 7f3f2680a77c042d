// Many copies taking their step on one group file at the same moment: no update is lost.
#include <gtest/gtest.h>

#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/instance_lock.h"
#include "server/config/settings.h"
#include "server/pool/group_file_lock.h"
#include "server/pool/pool_steps.h"
#include "server/pool/port_lock.h"
#include "tests/pool/pool_test_support.h"

using namespace pooltest;

namespace {

constexpr int copies = 8;

// Forks `copies` children that wait at a common start line, run `body(i)`, report, and hold
// whatever they took (folder locks) until the parent has seen every report.
template <typename Body>
void runTogether(const Body& body) {
    int start[2], done[2], release[2];
    ASSERT_EQ(pipe(start), 0);
    ASSERT_EQ(pipe(done), 0);
    ASSERT_EQ(pipe(release), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < copies; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            close(start[1]);
            close(done[0]);
            close(release[1]);
            char byte;
            while (read(start[0], &byte, 1) > 0) {
            }  // the start line: the parent closes its end
            int failed = body(i) ? 0 : 1;
            byte = 'x';
            if (write(done[1], &byte, 1) != 1)
                failed = 1;
            while (read(release[0], &byte, 1) > 0) {
            }
            _exit(failed);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    close(start[0]);
    close(done[1]);
    close(release[0]);
    close(start[1]);  // everybody goes
    int reports = 0;
    char byte;
    pollfd waiting{done[0], POLLIN, 0};
    while (reports < copies && poll(&waiting, 1, 20000) > 0 && read(done[0], &byte, 1) == 1)
        ++reports;
    close(release[1]);
    close(done[0]);
    EXPECT_EQ(reports, copies);
    for (pid_t pid : children) {
        int status = 0;
        bool ended = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000);
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST(GroupFileConcurrency, LockedReadModifyWriteLosesNoIncrement) {
    TempTree tree;
    const std::string file = tree.path("group.txt");
    tree.writeFile("group.txt", "pool\n{\n    counter = 0\n}\n");
    constexpr int rounds = 25;
    runTogether([&](int) {
        for (int round = 0; round < rounds; ++round) {
            pool::GroupFileLock lock(file);
            if (!lock.held())
                return false;
            Settings store;
            store.load(file);
            int counter = -1;
            store.getInt("pool", "counter", counter);
            store.setInt("pool", "counter", counter + 1);
            store.save(file);
        }
        return true;
    });
    EXPECT_EQ(groupValue(file, "pool", "counter"), copies * rounds);
}

TEST(GroupFileConcurrency, CopiesSteppingTogetherAllAppearInTheGroupFile) {
    TempTree tree;
    const std::string file = tree.path("group.txt");
    std::string group = "pool\n{\n    keep_available_count = 100\n";
    std::string errors = "error_ports\n{\n";
    std::vector<int> ports;
    for (int i = 0; i < copies; ++i) {
        const std::string key = "s" + std::to_string(i);
        tree.makeFolder(key);
        group += "    " + key + " = 0\n";
        errors += "    " + key + " = 9\n";  // keeps the not yet running ones from being started
        ports.push_back(20000 + getpid() % 20000 + i);
    }
    tree.writeFile("group.txt", group + "}\n" + errors + "}\n");

    runTogether([&](int i) {
        const std::string key = "s" + std::to_string(i);
        platform::InstanceLock folder;
        if (platform::acquireNamedLock(platform::lockNameFor(tree.path(key)), folder) !=
            platform::LockResult::Held)
            return false;
        pool::PoolIdentity me{tree.path(key), key, "portwarden", file, "pool", ports[i]};
        return pool::runStartupStep(me);  // lock kept until the process ends
    });

    for (int i = 0; i < copies; ++i) {
        const std::string key = "s" + std::to_string(i);
        EXPECT_EQ(groupValue(file, "pool", key), 1) << key;
        EXPECT_EQ(groupValue(file, "working_ports", key), ports[i]) << key;
        EXPECT_FALSE(groupHasKey(file, "error_ports", key)) << key;
    }
}

}  // namespace
