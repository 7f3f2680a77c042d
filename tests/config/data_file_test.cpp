#include <string>

#include "server/config/data_file.h"
#include "tests/config/temp_folder.h"

namespace {

using DataFileTest = TempFolderTest;

TEST(DataFileNames, Classification) {
    const struct {
        const char* name;
        bool crypted;
    } cases[] = {
        {"Data/Units/frigate.txt", false},
        {"Data\\Units\\frigate.txt", false},
        {"/srv/a/Data/Scripts/Weathertypes/rain.txt", false},
        {"myoptions.txt", false},
        {"serverconfig.txt.bak", false},
        {"/srv/a/passwords.txt", false},
        {"stats\\statistics.log", true},
        {"logins\\x.log", true},
        {"logins/x.log", true},
        {"data/units/frigate.txt", true},  // case-sensitive
        {"Data/Scripts/frigate.txt", true},
        {"", true},
        {nullptr, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isCryptedName(c.name), c.crypted) << (c.name ? c.name : "(null)");
    }
}

TEST_F(DataFileTest, MissingFileLogsOneErrorAndGivesAnEmptyStream) {
    const std::string name = path("serverconfig.txt");
    DataFile file(name.c_str());
    EXPECT_EQ(file.text(), nullptr);
    EXPECT_EQ(file.size(), 0u);
    std::string line;
    EXPECT_FALSE(std::getline(file.stream(), line));
    EXPECT_EQ(loggedErrors(), std::vector<std::string>{"Failed to load non crypted file: " + name});
}

TEST_F(DataFileTest, ReadsEmptyFilesZeroBytesAndBinaryBytes) {
    const struct {
        std::string bytes;
        std::string streamText;
    } cases[] = {
        {std::string(), std::string()},
        {std::string("ab\0cd", 5), "ab"},
        {std::string("\r\n\xff\x01x", 5), "\r\n\xff\x01x"},
    };
    for (const auto& c : cases) {
        writeFile("f.txt", c.bytes);
        DataFile file("f.txt");
        ASSERT_NE(file.text(), nullptr);
        EXPECT_EQ(file.size(), c.bytes.size());
        EXPECT_EQ(std::string(file.text(), file.size()), c.bytes);
        EXPECT_EQ(file.text()[file.size()], '\0');
        std::string streamed(std::istreambuf_iterator<char>(file.stream()), {});
        EXPECT_EQ(streamed, c.streamText);
    }
    EXPECT_FALSE(exists("log.html"));
}

TEST_F(DataFileTest, AFolderIsNotReadAsAFile) {
    std::filesystem::create_directory(path("folder"));
    DataFile file("folder");
    EXPECT_EQ(file.text(), nullptr);
    EXPECT_EQ(loggedErrors(), std::vector<std::string>{"Failed to load non crypted file: folder"});
}

TEST_F(DataFileTest, WritesWholeContentsTruncatingTheOldFile) {
    writeFile("out.txt", "a much longer earlier content");
    const std::string contents("x\r\ny\0z", 6);
    DataFile("out.txt", contents);
    EXPECT_EQ(readFile("out.txt"), contents);
    EXPECT_FALSE(exists("log.html"));
}

TEST_F(DataFileTest, WriteIntoMissingFolderLogsTheTextOfTheNameClass) {
    DataFile("logins/x.log", "a");
    DataFile("missing/serverconfig.txt", "b");
    DataFile("", "c");
    EXPECT_EQ(loggedErrors(), (std::vector<std::string>{
                                  "Failed to create crypted file: logins/x.log",
                                  "Failed to create noncrypted file: missing/serverconfig.txt",
                                  "Failed to create crypted file: ",
                              }));
    EXPECT_FALSE(exists("logins"));
}

}  // namespace
