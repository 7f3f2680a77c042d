#include <string>

#include "server/config/account_list.h"
#include "tests/config/temp_folder.h"

namespace {

using AccountListTest = TempFolderTest;

TEST_F(AccountListTest, Lookups) {
    writeFile("passwords.txt",
              "Gus = top level\n"
              "PassWords\n{\n"
              "    Anna = secret\n"
              "    Bob = first\n"
              "    Bob = second\n"
              "    Carl =   spaced pass   \r\n"
              "    Dora =\n"
              "    Eve = a=b:c // comment\n"
              "}\n"
              "Other\n{\n    Frank = x\n}\n");
    const struct {
        const char* user;
        const char* password;
    } cases[] = {
        {"Anna", "secret"}, {"anna", ""},  {"Bob", "second"}, {"Carl", "spaced pass"},
        {"Dora", ""},       {"Eve", "a=b:c"}, {"Frank", ""},   {"Gus", ""},
        {"Zed", ""},        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(lookupPassword(dir_, c.user), c.password) << c.user;
    EXPECT_FALSE(exists("log.html"));
}

TEST_F(AccountListTest, FileIsReadAfreshAtEveryLookup) {
    writeFile("passwords.txt", "PassWords\n{\nAnna = one\n}\n");
    EXPECT_EQ(lookupPassword(dir_, "Anna"), "one");
    writeFile("passwords.txt", "PassWords\n{\nAnna = two\n}\n");
    EXPECT_EQ(lookupPassword(dir_, "Anna"), "two");
}

TEST_F(AccountListTest, MissingFileGivesEmptyAnswersAndOneErrorPerLookup) {
    EXPECT_EQ(lookupPassword(dir_, "Anna"), "");
    EXPECT_EQ(lookupPassword(dir_, "Bob"), "");
    const std::string error = "Failed to load non crypted file: " + dir_ + "/passwords.txt";
    EXPECT_EQ(loggedErrors(), (std::vector<std::string>{error, error}));
}

}  // namespace
