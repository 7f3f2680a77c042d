// The pool's steps on real group files, real instance locks and real program starts (small
// scripts stand in for sibling copies and record how they were started).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <unistd.h>
#include <vector>

#include "platform/instance_lock.h"
#include "server/pool/pool_steps.h"
#include "server/pool/port_lock.h"
#include "server/pool/wake.h"
#include "tests/pool/pool_test_support.h"

using namespace pooltest;

namespace {

const char* const recorder = "#!/bin/sh\necho \"$0\" >> \"$(dirname \"$0\")/started.log\"\n";

class PoolSteps : public ::testing::Test {
protected:
    TempTree tree;
    std::string groupFile = tree.path("group.txt");
    std::vector<platform::InstanceLock> locks;
    std::string savedDirectory;
    int port = freeUdpPort();

    void SetUp() override {
        char buffer[4096];
        savedDirectory = getcwd(buffer, sizeof buffer) ? buffer : "/";
        becomeSubreaper();
        pool::keepAvailableCount = 1;
    }
    void TearDown() override {
        for (auto& lock : locks)
            platform::releaseNamedLock(lock);
        pool::releasePortLock();
        if (chdir(savedDirectory.c_str()) != 0) {
        }
        killEverythingUnder(tree.root());
    }
    // A sibling folder holding a program that records its starts.
    void sibling(const std::string& key) { tree.writeFile(key + "/portwarden", recorder, true); }
    // This process plays the copy of `key`: it holds that folder's lock.
    void holdFolder(const std::string& key) {
        platform::InstanceLock lock;
        ASSERT_EQ(platform::acquireNamedLock(platform::lockNameFor(tree.path(key)), lock),
                  platform::LockResult::Held);
        locks.push_back(lock);
    }
    pool::PoolIdentity identity(const std::string& key) {
        pool::PoolIdentity me;
        me.dataDirectory = tree.path(key);
        me.instanceName = key;
        me.programFileName = "portwarden";
        me.groupFile = groupFile;
        me.groupName = "pool";
        me.port = port;
        return me;
    }
    // Acts as the copy `key`: its folder lock held and its folder the working directory.
    void becomeCopy(const std::string& key) {
        tree.makeFolder(key);
        holdFolder(key);
        ASSERT_EQ(chdir(tree.path(key).c_str()), 0);
    }
    std::string startLog(const std::string& key) { return readFile(tree.path(key + "/started.log")); }
    int value(const std::string& group, const std::string& key) { return groupValue(groupFile, group, key); }
};

std::string groupText(const std::string& body) { return "pool\n{\n" + body + "}\n"; }

TEST_F(PoolSteps, ThreeSiblingsNoneRunningStartTheLastFreeOneOnly) {
    for (const char* key : {"a", "b", "c"})
        sibling(key);
    tree.writeFile("group.txt", groupText("keep_available_count = 2\na = 1\nb = 1\nc = 2\n"));

    becomeCopy("a");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(pool::runStartupStep(identity("a")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "marked b to be closed on startup\nmarked c to be closed on startup\n"
              "Starting server ../c/portwarden\n");
    EXPECT_EQ(pool::keepAvailableCount, 2);
    EXPECT_EQ(value("pool", "a"), 1);
    EXPECT_EQ(value("pool", "b"), 0);
    EXPECT_EQ(value("pool", "c"), 0);
    EXPECT_EQ(value("working_ports", "a"), port);
    ASSERT_TRUE(waitFor([&] { return !startLog("c").empty(); }, 5000));
    EXPECT_EQ(startLog("c"), "../c/portwarden\n");

    // c now runs and takes its step: a and c are available, nothing more is started.
    pool::releasePortLock();
    becomeCopy("c");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(pool::runStartupStep(identity("c")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "marked b to be closed on startup\n");
    EXPECT_EQ(value("pool", "a"), 1);
    EXPECT_EQ(value("pool", "b"), 0);
    EXPECT_EQ(value("pool", "c"), 1);
    EXPECT_EQ(value("working_ports", "c"), port);
    usleep(300 * 1000);
    EXPECT_EQ(startLog("b"), "");
    EXPECT_EQ(startLog("c"), "../c/portwarden\n");
}

struct StartupCase {
    const char* name;
    const char* group;                    // body of the group "pool"
    std::set<std::string> running;        // siblings whose folder lock is held
    std::set<std::string> errorPorts;     // listed in error_ports
    bool mayRun;
    const char* started;                  // key of the sibling started, "" for none
    const char* output;                   // whole console output of the step
    std::map<std::string, int> states;    // expected states afterwards
};

TEST_F(PoolSteps, StartupDecisions) {
    const std::vector<StartupCase> cases = {
        {"enough copies available", "keep_available_count = 1\nb = 1\n", {"b"}, {}, false, "",
         "Enough servers running.. closing down\n", {{"a", 1}, {"b", 1}}},
        {"keep zero stops every copy", "keep_available_count = 0\n", {}, {}, false, "",
         "Enough servers running.. closing down\n", {{"a", 1}}},
        {"missing count keeps the previous one", "b = 1\n", {"b"}, {}, false, "",
         "Enough servers running.. closing down\n", {{"a", 1}, {"b", 1}}},
        {"a busy sibling does not count", "keep_available_count = 2\nb = 2\nc = 1\n", {"b"}, {},
         true, "c", "marked c to be closed on startup\nStarting server ../c/portwarden\n",
         {{"a", 1}, {"b", 2}, {"c", 0}}},
        {"enough once counted, nothing started", "keep_available_count = 2\nb = 1\nc = 0\n",
         {"b"}, {}, true, "", "marked c to be closed on startup\n", {{"a", 1}, {"b", 1}, {"c", 0}}},
        {"last free key in key order wins", "keep_available_count = 4\nb = 0\nc = 0\nd = 0\n", {},
         {}, true, "d",
         "marked b to be closed on startup\nmarked c to be closed on startup\n"
         "marked d to be closed on startup\nStarting server ../d/portwarden\n",
         {{"a", 1}, {"b", 0}, {"c", 0}, {"d", 0}}},
        {"error port sibling marked, never started", "keep_available_count = 2\nb = 1\n", {},
         {"b"}, true, "", "marked b to be closed on startup\n", {{"a", 1}, {"b", 0}}},
        {"a key leading out of the parent folder is never started",
         "keep_available_count = 2\nb = 0\nc/../../b = 1\n", {}, {}, true, "b",
         "marked b to be closed on startup\nmarked c/../../b to be closed on startup\n"
         "Starting server ../b/portwarden\n",
         {{"a", 1}, {"b", 0}, {"c/../../b", 0}}},
    };
    for (const StartupCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        locks.clear();
        for (const char* key : {"a", "b", "c", "d"}) {
            sibling(key);
            std::remove(tree.path(std::string(key) + "/started.log").c_str());
        }
        std::string errorPorts = "error_ports\n{\n";
        for (const std::string& key : c.errorPorts)
            errorPorts += key + " = 4000\n";
        tree.writeFile("group.txt", groupText(c.group) + errorPorts + "}\n");
        pool::keepAvailableCount = 1;
        for (const std::string& key : c.running)
            holdFolder(key);
        becomeCopy("a");

        testing::internal::CaptureStdout();
        EXPECT_EQ(pool::runStartupStep(identity("a")), c.mayRun);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        for (const auto& [key, state] : c.states)
            EXPECT_EQ(value("pool", key), state) << key;
        for (const std::string& key : c.errorPorts)
            EXPECT_EQ(value("error_ports", key), 4000) << key;
        if (*c.started != '\0')
            EXPECT_TRUE(waitFor([&] { return !startLog(c.started).empty(); }, 5000));
        else
            usleep(200 * 1000);
        for (const char* key : {"a", "b", "c", "d"})
            EXPECT_EQ(startLog(key), key == std::string(c.started)
                                         ? "../" + std::string(key) + "/portwarden\n"
                                         : std::string())
                << key;
    }
}

TEST_F(PoolSteps, PortHeldElsewhereIsRecordedAndStopsThisCopy) {
    tree.writeFile("group.txt", groupText("keep_available_count = 1\n") +
                                    "working_ports\n{\na = 1234\n}\n");
    platform::InstanceLock other;
    ASSERT_EQ(platform::acquireNamedLock(pool::portLockName(port), other), platform::LockResult::Held);
    becomeCopy("a");

    testing::internal::CaptureStdout();
    EXPECT_FALSE(pool::runStartupStep(identity("a")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n\n! ERROR ! \nRequested port: " + std::to_string(port) +
                  " is already in use.\nYoou need to modify key 'port = " + std::to_string(port) +
                  "' from file serverconfig.txt\n\n");
    EXPECT_FALSE(pool::portLockHeld());
    EXPECT_EQ(value("error_ports", "a"), port);
    EXPECT_FALSE(groupHasKey(groupFile, "working_ports", "a"));
    EXPECT_EQ(value("pool", "a"), 1);

    // Once the port is free again, the next step takes it and clears the error.
    platform::releaseNamedLock(other);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(pool::runStartupStep(identity("a")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(pool::portLockHeld());
    EXPECT_TRUE(platform::isNamedLockHeld(pool::portLockName(port)));
    EXPECT_FALSE(groupHasKey(groupFile, "error_ports", "a"));
    EXPECT_EQ(value("working_ports", "a"), port);

    // A later step of the same copy takes its own port again.
    EXPECT_TRUE(pool::runStartupStep(identity("a")));
    pool::releasePortLock();
    EXPECT_FALSE(platform::isNamedLockHeld(pool::portLockName(port)));
}

TEST_F(PoolSteps, MissingGroupFileIsCreatedWithThisCopyOnly) {
    becomeCopy("a");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(pool::runStartupStep(identity("a")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(value("pool", "a"), 1);
    EXPECT_EQ(value("working_ports", "a"), port);
}

struct GameBeginCase {
    const char* name;
    const char* group;
    std::set<std::string> running;
    const char* started;
    const char* output;
    std::map<std::string, int> states;
};

TEST_F(PoolSteps, GameBeginDecisions) {
    const std::vector<GameBeginCase> cases = {
        {"no other available copy: a replacement starts", "keep_available_count = 1\na = 1\nb = 1\n",
         {}, "b",
         "Marking me as ingame mode\nmarked b to be closed on game begin\n"
         "starting a replacement server ../b/portwarden",
         {{"a", 2}, {"b", 0}}},
        {"another available copy suffices", "keep_available_count = 1\na = 1\nb = 1\nc = 0\n", {"b"},
         "", "Marking me as ingame mode\nmarked c to be closed on game begin\n",
         {{"a", 2}, {"b", 1}, {"c", 0}}},
        {"busy siblings do not count", "keep_available_count = 1\na = 1\nb = 2\nc = 1\n", {"b"}, "c",
         "Marking me as ingame mode\nmarked c to be closed on game begin\n"
         "starting a replacement server ../c/portwarden",
         {{"a", 2}, {"b", 2}, {"c", 0}}},
    };
    for (const GameBeginCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        locks.clear();
        for (const char* key : {"a", "b", "c"}) {
            sibling(key);
            std::remove(tree.path(std::string(key) + "/started.log").c_str());
        }
        tree.writeFile("group.txt", groupText(c.group) + "error_ports\n{\na = 7\n}\nworking_ports\n{\na = 5\n}\n");
        for (const std::string& key : c.running)
            holdFolder(key);
        becomeCopy("a");

        testing::internal::CaptureStdout();
        pool::runGameBeginStep(identity("a"));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        for (const auto& [key, state] : c.states)
            EXPECT_EQ(value("pool", key), state) << key;
        EXPECT_EQ(value("error_ports", "a"), 7);  // port groups and port lock untouched
        EXPECT_EQ(value("working_ports", "a"), 5);
        EXPECT_FALSE(pool::portLockHeld());
        if (*c.started != '\0')
            EXPECT_TRUE(waitFor([&] { return !startLog(c.started).empty(); }, 5000));
        else
            usleep(200 * 1000);
        for (const char* key : {"a", "b", "c"})
            EXPECT_EQ(startLog(key) != "", key == std::string(c.started)) << key;
    }
}

TEST_F(PoolSteps, WakeGroupStartsEntriesExceptSwitchedOffOnes) {
    tree.makeFolder("a");
    // "-" would be a runnable program of this folder if the entry were handed to the shell.
    tree.writeFile("a/-", "#!/bin/sh\ntouch \"" + tree.path("dash-started") + "\"\n", true);
    tree.writeFile("wake.sh", "#!/bin/sh\ntouch \"" + tree.path("wake-started") + "\"\n", true);
    tree.writeFile("a/serverconfig.txt",
                   "ServerConfig\n{\nport = 1\n}\nwake\n{\n    a_off = -\n    b_on = " + tree.path("wake.sh") +
                       "\n    c_off = -\n}\n");
    ASSERT_EQ(chdir(tree.path("a").c_str()), 0);
    pool::startWakeGroup("serverconfig.txt");
    EXPECT_TRUE(waitFor([&] { return fileExists(tree.path("wake-started")); }, 5000));
    usleep(300 * 1000);
    EXPECT_FALSE(fileExists(tree.path("dash-started")));
}

}  // namespace
