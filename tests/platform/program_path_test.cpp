#include "platform/program_path.h"

#include "tests/platform/fixtures.h"

#include <climits>
#include <gtest/gtest.h>

using namespace platform;
using namespace platform_test;

namespace {

std::string currentDirectory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

struct ScopedCwd {
    std::string old = currentDirectory();
    ~ScopedCwd() { changeDirectory(old); }
};

}  // namespace

// Sibling folders a and b hold links to one installed binary (this test program); decoy holds
// another program of the same name. Each copy must get the folder it was started from.
TEST(ProgramPath, EachCopyKeepsItsOwnFolder) {
    TempDir dir;
    const std::string root = dir.path;
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    for (const char* sub : {"/inst", "/a", "/b", "/decoy"})
        ASSERT_EQ(mkdir((root + sub).c_str(), 0755), 0);
    ASSERT_EQ(symlink(self, (root + "/inst/prog").c_str()), 0);
    ASSERT_EQ(symlink("../inst/prog", (root + "/a/prog").c_str()), 0);
    ASSERT_EQ(symlink((root + "/a/prog").c_str(), (root + "/b/prog").c_str()), 0);
    writeFile(root + "/decoy/prog", "#!/bin/sh\n", 0755);

    ScopedCwd restore;
    ASSERT_TRUE(changeDirectory(root + "/a"));
    EXPECT_EQ(currentDirectory(), root + "/a");

    struct Case {
        const char* argv0;
        std::string path;  // PATH while the case runs
        std::string fullPath;
    };
    const Case cases[] = {
        {"./prog", "/usr/bin", root + "/a/prog"},
        {"../b/prog", "/usr/bin", root + "/b/prog"},
        {"prog", root + "/decoy:" + root + "/b", root + "/b/prog"},  // PATH, skipping another program
        {"prog", root + "/decoy", root + "/a/prog"},                // then the working directory
    };
    for (const Case& c : cases) {
        ScopedEnv path("PATH", c.path);
        ProgramPath p = programPathFrom(c.argv0);
        EXPECT_EQ(p.fullPath, c.fullPath) << c.argv0 << " PATH=" << c.path;
        EXPECT_EQ(p.folder, c.fullPath.substr(0, c.fullPath.rfind('/'))) << c.argv0;
        EXPECT_EQ(p.fileName, "prog") << c.argv0;
    }

    ProgramPath cleaned = programPathFrom((root + "/./b/../a//prog").c_str());
    EXPECT_EQ(cleaned.fullPath, root + "/a/prog");

    // Unknown name and no name: the running executable itself.
    ScopedEnv path("PATH", root + "/decoy");
    for (const char* argv0 : {"unknown-name", ""}) {
        ProgramPath p = programPathFrom(argv0);
        EXPECT_EQ(p.fullPath, self) << argv0;
        EXPECT_EQ(p.folder + "/" + p.fileName, p.fullPath);
    }
    EXPECT_EQ(programPathFrom(nullptr).fullPath, self);

    EXPECT_FALSE(changeDirectory(root + "/missing"));
    EXPECT_EQ(currentDirectory(), root + "/a");
}
