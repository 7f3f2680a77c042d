// Real server copies in sibling folders of a temporary folder, sharing one group file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/instance_lock.h"
#include "protocol/text.h"
#include "tests/pool/battle_client.h"
#include "tests/pool/pool_test_support.h"

using namespace pooltest;

namespace {

const char* const failedToStart = "Server failed to start.  Terminating.";

class PoolProcesses : public ::testing::Test {
protected:
    TempTree tree;
    std::string groupFile = tree.path("group.txt");
    std::vector<Child> children;

    void SetUp() override {
        becomeSubreaper();
        children.reserve(32);  // references to started children stay valid
    }
    void TearDown() override {
        for (Child& child : children)
            if (child.input >= 0) {
                close(child.input);
                child.input = -1;
            }
        killEverythingUnder(tree.root());
        // Nothing of this test may outlive it.
        EXPECT_TRUE(waitFor([&] { return everyProcessUnderTree().empty(); }, 2000));
    }
    std::vector<pid_t> everyProcessUnderTree() {
        std::vector<pid_t> all;
        for (const char* key : {"a", "b", "c", "s0", "s1", "s2", "s3", "s4", "s5"})
            for (pid_t pid : processesIn(tree.path(key)))
                all.push_back(pid);
        return all;
    }
    // A sibling folder with the server program and its own configuration.
    void copy(const std::string& key, int port, const std::string& extraGroups = "",
              const std::string& extraKeys = "") {
        tree.makeFolder(key);
        ASSERT_EQ(symlink(PORTWARDEN_PATH, tree.path(key + "/portwarden").c_str()), 0);
        tree.writeFile(key + "/serverconfig.txt",
                       "ServerConfig\n{\n    port = " + std::to_string(port) +
                           "\n    clanserver = 0\n    group_file = " + groupFile +
                           "\n    group_name = pool\n" + extraKeys + "}\n" + extraGroups);
    }
    Child& start(const std::string& key) {
        children.push_back(spawn(tree.path(key + "/portwarden"), tree.path(key), tree.path(key + ".out")));
        return children.back();
    }
    bool runs(const std::string& key) {
        return platform::isNamedLockHeld(platform::lockNameFor(tree.path(key)));
    }
    std::string output(const std::string& key) { return readFile(tree.path(key + ".out")); }
    int state(const std::string& key) { return groupValue(groupFile, "pool", key); }
    static int occurrences(const std::string& text, const std::string& part) {
        int count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++count;
        return count;
    }
    // Sends "reset", which reloads the configuration and so runs the pool step again.
    void reset(Child& child) { sendLine(child, "reset"); }
};

std::string groupText(const std::string& body) { return "pool\n{\n" + body + "}\n"; }

TEST_F(PoolProcesses, FirstOfThreeSiblingsStartsTheLastFreeOne) {
    for (const char* key : {"a", "b", "c"})
        copy(key, freeUdpPort());
    tree.writeFile("group.txt", groupText("keep_available_count = 2\na = 0\nb = 0\nc = 0\n"));

    start("a");
    ASSERT_TRUE(waitFor([&] { return runs("c"); }, 8000)) << output("a");
    ASSERT_TRUE(waitFor([&] { return state("a") == 1 && state("c") == 1; }, 8000)) << readFile(groupFile);
    EXPECT_NE(output("a").find("marked b to be closed on startup\nmarked c to be closed on startup\n"
                               "Starting server ../c/portwarden\n"),
              std::string::npos)
        << output("a");
    // c counts a and itself and starts nothing; b stays down and marked 0.
    usleep(1000 * 1000);
    EXPECT_FALSE(runs("b"));
    EXPECT_TRUE(processesIn(tree.path("b")).empty());
    EXPECT_TRUE(runs("a"));
    EXPECT_TRUE(runs("c"));
    EXPECT_EQ(state("a"), 1);
    EXPECT_EQ(state("b"), 0);
    EXPECT_EQ(state("c"), 1);
}

TEST_F(PoolProcesses, EnoughCopiesStopAStartingCopy) {
    struct Case {
        const char* name;
        int keep;
        bool firstRuns;  // a copy "a" runs before "b" starts
    };
    for (const Case& c : {Case{"one available, keep one", 1, true}, Case{"keep zero", 0, false}}) {
        SCOPED_TRACE(c.name);
        TearDown();
        for (const char* key : {"a", "b"})
            if (!fileExists(tree.path(key)))
                copy(key, freeUdpPort());
        tree.writeFile("group.txt", groupText("keep_available_count = " + std::to_string(c.keep) +
                                              "\na = 0\nb = 0\n"));
        if (c.firstRuns) {
            start("a");
            ASSERT_TRUE(waitFor([&] { return runs("a") && state("a") == 1; }, 8000)) << output("a");
        }
        const auto begun = std::chrono::steady_clock::now();
        Child& b = start("b");
        std::optional<int> status = waitExit(b, 9000);
        const auto waited = std::chrono::steady_clock::now() - begun;
        ASSERT_TRUE(status.has_value()) << output("b");
        EXPECT_EQ(*status, 1);
        EXPECT_GE(waited, std::chrono::milliseconds(4500));
        const std::string text = output("b");
        EXPECT_NE(text.find("Enough servers running.. closing down\n"), std::string::npos) << text;
        EXPECT_NE(text.find(failedToStart), std::string::npos) << text;
        EXPECT_EQ(text.find("Starting server"), std::string::npos) << text;
        if (c.firstRuns) {
            EXPECT_TRUE(runs("a"));
        }
    }
}

TEST_F(PoolProcesses, SecondCopyOnAPortIsRecordedAndNeverRestarted) {
    const int port = freeUdpPort();
    copy("a", port);
    copy("b", port);
    tree.writeFile("group.txt", groupText("keep_available_count = 3\na = 0\n") +
                                    "working_ports\n{\n    b = 1234\n}\n");
    Child& a = start("a");
    ASSERT_TRUE(waitFor([&] { return runs("a") && groupValue(groupFile, "working_ports", "a") == port; },
                        8000))
        << output("a");

    Child& b = start("b");
    std::optional<int> status = waitExit(b, 9000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 1);
    const std::string text = output("b");
    const std::string error = "\n\n! ERROR ! \nRequested port: " + std::to_string(port) +
                              " is already in use.\nYoou need to modify key 'port = " +
                              std::to_string(port) + "' from file serverconfig.txt\n\n";
    EXPECT_NE(text.find(error), std::string::npos) << text;
    EXPECT_NE(text.find(failedToStart), std::string::npos) << text;
    EXPECT_EQ(groupValue(groupFile, "error_ports", "b"), port);
    EXPECT_FALSE(groupHasKey(groupFile, "working_ports", "b"));
    EXPECT_EQ(groupValue(groupFile, "working_ports", "a"), port);

    // a's next step finds b down: marked 0, but a copy with a port error is not started.
    reset(a);
    ASSERT_TRUE(waitFor([&] { return state("b") == 0; }, 8000)) << output("a");
    usleep(1000 * 1000);
    EXPECT_FALSE(runs("b"));
    EXPECT_TRUE(processesIn(tree.path("b")).empty());
    EXPECT_NE(output("a").find("marked b to be closed on startup\n"), std::string::npos);
    EXPECT_EQ(output("a").find("Starting server"), std::string::npos);
    EXPECT_TRUE(runs("a"));
    EXPECT_EQ(groupValue(groupFile, "working_ports", "a"), port);
}

TEST_F(PoolProcesses, KilledCopyIsFoundDownAndStartedAgain) {
    copy("a", freeUdpPort());
    copy("b", freeUdpPort());
    tree.writeFile("group.txt", groupText("keep_available_count = 2\na = 0\nb = 0\n"));
    Child& a = start("a");
    ASSERT_TRUE(waitFor([&] { return runs("b") && state("b") == 1; }, 8000)) << output("a");
    std::vector<pid_t> first = processesIn(tree.path("b"));
    ASSERT_FALSE(first.empty());
    for (pid_t pid : first) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);  // our child through the subreaper; no zombie kept
    }
    ASSERT_TRUE(waitFor([&] { return !runs("b"); }, 3000));
    EXPECT_EQ(state("b"), 1);  // a killed copy never writes its own 0

    reset(a);
    ASSERT_TRUE(waitFor([&] { return runs("b") && state("b") == 1; }, 8000)) << output("a");
    std::vector<pid_t> second = processesIn(tree.path("b"));
    ASSERT_FALSE(second.empty());
    for (pid_t pid : second)
        EXPECT_EQ(std::find(first.begin(), first.end(), pid), first.end());
    EXPECT_EQ(occurrences(output("a"), "Starting server ../b/portwarden\n"), 2) << output("a");
}

TEST_F(PoolProcesses, BattleBeginMarksTheCopyBusyAndStartsAReplacement) {
    const int port = freeUdpPort();
    copy("a", port, "", "    wait_for_others_length = 1\n");
    copy("b", freeUdpPort());
    tree.writeFile("group.txt", groupText("keep_available_count = 1\na = 0\nb = 0\n"));
    start("a");
    ASSERT_TRUE(waitFor([&] { return runs("a") && state("a") == 1; }, 8000)) << output("a");
    EXPECT_FALSE(runs("b"));  // one available copy is enough before the battle

    // Two players on two teams report ready; the countdown of one second runs out.
    BattleClient first(port), second(port);
    auto both = [&](const std::function<bool(BattleClient&)>& check) {
        return waitFor(
            [&] {
                first.poll();
                second.poll();
                return check(first) && check(second);
            },
            5000);
    };
    ASSERT_TRUE(both([](BattleClient& c) { return c.connected(); })) << output("a");
    int number = 0;
    for (BattleClient* client : {&first, &second}) {
        KSTMP::PlayerInfo info;
        protocol::writeText(info.name, "player" + std::to_string(++number));
        client->send(info);
    }
    ASSERT_TRUE(both([](BattleClient& c) { return c.notices(KSTMP::ntf_team_id) > 0; })) << output("a");
    first.notify(KSTMP::ntf_ready_to_init);
    second.notify(KSTMP::ntf_ready_to_init);

    ASSERT_TRUE(waitFor(
        [&] {
            first.poll();
            second.poll();
            return state("a") == 2 && runs("b") && state("b") == 1;
        },
        8000))
        << output("a") << readFile(groupFile);
    EXPECT_NE(output("a").find("Marking me as ingame mode\nmarked b to be closed on game begin\n"
                               "starting a replacement server ../b/portwarden"),
              std::string::npos)
        << output("a");
    EXPECT_EQ(groupValue(groupFile, "working_ports", "a"), port);  // port groups untouched
}

TEST_F(PoolProcesses, WakeupStartsEntriesButNotSwitchedOffOnes) {
    tree.writeFile("wake.sh", "#!/bin/sh\ntouch \"" + tree.path("wake-started") + "\"\n", true);
    copy("a", freeUdpPort(),
         "wake\n{\n    first = -\n    second = " + tree.path("wake.sh") + "\n}\n");
    // What the shell would run if "-" were handed to it from a's folder.
    tree.writeFile("a/-", "#!/bin/sh\ntouch \"" + tree.path("dash-started") + "\"\n", true);
    tree.writeFile("group.txt", groupText("keep_available_count = 1\na = 0\n"));
    Child& a = start("a");
    ASSERT_TRUE(waitFor([&] { return runs("a") && state("a") == 1; }, 8000)) << output("a");
    EXPECT_FALSE(fileExists(tree.path("wake-started")));
    sendLine(a, "wakeup");
    EXPECT_TRUE(waitFor([&] { return fileExists(tree.path("wake-started")); }, 5000)) << output("a");
    usleep(500 * 1000);
    EXPECT_FALSE(fileExists(tree.path("dash-started")));
}

TEST_F(PoolProcesses, CopiesStartingTogetherLoseNoStateInTheGroupFile) {
    constexpr int count = 6;
    std::string group = "keep_available_count = 100\n";
    std::string errors = "error_ports\n{\n";
    std::vector<int> ports;
    for (int i = 0; i < count; ++i) {
        const std::string key = "s" + std::to_string(i);
        ports.push_back(freeUdpPort());
        copy(key, ports.back());
        group += key + " = 0\n";
        errors += "    " + key + " = 9\n";  // copies not running yet are not started by others
    }
    tree.writeFile("group.txt", groupText(group) + errors + "}\n");
    for (int i = 0; i < count; ++i)
        start("s" + std::to_string(i));
    auto consistent = [&] {
        for (int i = 0; i < count; ++i) {
            const std::string key = "s" + std::to_string(i);
            if (!runs(key) || state(key) != 1 ||
                groupValue(groupFile, "working_ports", key) != ports[i] ||
                groupHasKey(groupFile, "error_ports", key))
                return false;
        }
        return true;
    };
    EXPECT_TRUE(waitFor(consistent, 8000)) << readFile(groupFile);
}

}  // namespace
