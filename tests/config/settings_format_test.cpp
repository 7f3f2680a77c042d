#include <cfloat>
#include <climits>
#include <map>
#include <string>
#include <vector>

#include "server/config/settings.h"
#include "tests/config/settings_flat.h"
#include "tests/config/temp_folder.h"

namespace {

class SettingsTest : public TempFolderTest {
protected:
    Settings loadText(const std::string& text) {
        writeFile("s.txt", text);
        Settings settings;
        settings.load("s.txt");
        return settings;
    }
};

TEST_F(SettingsTest, Format) {
    const struct {
        const char* what;
        std::string text;
        Flat expected;
    } cases[] = {
        {"one group", "A\n{\nx = 1\n}\n", {{"A", {{"x", "1"}}}}},
        {"comment at end of line", "A\n{\nport = 10 // main port\n}\n", {{"A", {{"port", "10"}}}}},
        {"comment with one character after slashes", "A\n{\nx = a//b\n}\n", {{"A", {{"x", "a"}}}}},
        {"slashes at the very end stay", "A\n{\nx = 1 //\n}\n", {{"A", {{"x", "1 //"}}}}},
        {"comment lines and blank lines are skipped",
         "// note\nA\n\n   \n// between name and brace\n{\n//\nx=1\n}\n", {{"A", {{"x", "1"}}}}},
        {"CR LF, tabs and blanks", "A\r\n{\r\n\tx\t=\t 1 \r\n}\r\n", {{"A", {{"x", "1"}}}}},
        {"value keeps =, : and inner blanks", "A\n{\nk = a = b : c  d\n}\n",
         {{"A", {{"k", "a = b : c  d"}}}}},
        {"nesting into paths", "A\n{\nB\n{\ny=2\n}\n}\n", {{"A", {}}, {"A:B", {{"y", "2"}}}}},
        {"three levels with keys around children",
         "A\n{\na=1\nB\n{\nC\n{\nc=3\n}\nb=2\n}\nz=9\n}\n",
         {{"A", {{"a", "1"}, {"z", "9"}}}, {"A:B", {{"b", "2"}}}, {"A:B:C", {{"c", "3"}}}}},
        {"inheritance from an earlier sibling",
         "Base\n{\na=1\nb=2\nSub\n{\nc=3\n}\n}\nDerived : Base\n{\nb=5\n}\n",
         {{"Base", {{"a", "1"}, {"b", "2"}}},
          {"Base:Sub", {{"c", "3"}}},
          {"Derived", {{"a", "1"}, {"b", "5"}}},
          {"Derived:Sub", {{"c", "3"}}}}},
        {"inheritance from a missing sibling", "Derived : Missing\n{\nb=5\n}\n",
         {{"Derived", {{"b", "5"}}}}},
        {"a later sibling is no base", "D : B\n{\nx=1\n}\nB\n{\ny=2\n}\n",
         {{"D", {{"x", "1"}}}, {"B", {{"y", "2"}}}}},
        {"a group of another level is no base", "A\n{\nIn\n{\nk=1\n}\n}\nD : In\n{\n}\n",
         {{"A", {}}, {"A:In", {{"k", "1"}}}, {"D", {}}}},
        {"second definition replaces the first", "A\n{\nx=1\ny=2\nS\n{\n}\n}\nA\n{\nx=3\n}\n",
         {{"A", {{"x", "3"}}}}},
        {"later key wins in a group", "A\n{\nx=1\nx=2\n}\n", {{"A", {{"x", "2"}}}}},
        {"bare lines and an empty value", "A\n{\n= value\njust text\nkey =\n}\n",
         {{"A", {{"key", ""}}}}},
        {"top-level } ends the read", "A\n{\nx=1\n}\n}\nB\n{\ny=1\n}\n", {{"A", {{"x", "1"}}}}},
        {"rest of a closing line is ignored", "A\n{\nx=1\n} y=2\nB\n{\n}\n",
         {{"A", {{"x", "1"}}}, {"B", {}}}},
        {"root keys are not stored", "x=1\nA\n{\n}\ny=2\n", {{"A", {}}}},
        {"group without closing brace ends with the input", "A\n{\nx=1", {{"A", {{"x", "1"}}}}},
        {"empty body", "A\n{\n}\n", {{"A", {}}}},
        {"header with a colon and no base", "A :\n{\nx=1\n}\n", {{"A", {{"x", "1"}}}}},
        {"a } on the first line ends the read", "}\nA\n{\n}\n", {}},
        {"a lone { first in a body is ignored", "A\n{\n{\nx=1\n}\n", {{"A", {{"x", "1"}}}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(flatten(loadText(c.text)), c.expected) << c.what;
    }
}

TEST_F(SettingsTest, LoadingTwoFilesMergesTheirGroups) {
    writeFile("one.txt", "A\n{\nx=1\ny=2\nS\n{\ns=1\n}\n}\n");
    writeFile("two.txt", "A\n{\ny=3\nz=4\n}\nB\n{\n}\n");
    Settings settings;
    settings.load("one.txt");
    settings.load("two.txt");
    EXPECT_EQ(flatten(settings),
              (Flat{{"A", {{"x", "1"}, {"y", "3"}, {"z", "4"}}}, {"A:S", {{"s", "1"}}}, {"B", {}}}));
}

TEST_F(SettingsTest, MissingFileLeavesTheStoreAndLogsTheName) {
    Settings settings;
    settings.setInt("A", "x", 1);
    settings.load("nothing.txt");
    EXPECT_EQ(flatten(settings), (Flat{{"A", {{"x", "1"}}}}));
    EXPECT_EQ(loggedErrors(), std::vector<std::string>{"Failed to load non crypted file: nothing.txt"});
}

TEST(SettingValueTest, Readings) {
    const struct {
        std::string text;
        int32_t intValue;
        float floatValue;
        bool boolValue;
        SettingVector vector;
    } cases[] = {
        {"12abc", 12, 12.0f, true, {}},
        {"-", 0, 0.0f, false, {}},
        {"x%25", 25, 25.0f, true, {}},
        {"50%", 50, 50.0f, true, {}},
        {"a%b%7", 7, 7.0f, true, {}},
        {"1.5,2.5,3.5", 1, 1.5f, true, {1.5f, 2.5f, 3.5f}},
        {"10,0,-25.5", 10, 10.0f, true, {10.0f, 0.0f, -25.5f}},
        {"1,2", 1, 1.0f, true, {1.0f, 0.0f, 0.0f}},
        {"1, 2, 3", 1, 1.0f, true, {1.0f, 0.0f, 0.0f}},
        {"x,2,3", 0, 0.0f, false, {}},
        {"1,y,3", 1, 1.0f, true, {1.0f, 0.0f, 3.0f}},
        {"1,2,inf", 1, 1.0f, true, {1.0f, 2.0f, 0.0f}},
        {"abc", 0, 0.0f, false, {}},
        {"true", 0, 0.0f, false, {}},
        {"0.5", 0, 0.5f, false, {}},
        {"-2.5e1x", -2, -25.0f, true, {}},
        {"+7", 7, 7.0f, true, {}},
        {"0x10", 0, 0.0f, false, {}},
        {"  8  // eight", 8, 8.0f, true, {}},
        {"99999999999", INT32_MAX, 99999999999.0f, true, {}},
        {"-99999999999", INT32_MIN, -99999999999.0f, true, {}},
        {"2147483648", INT32_MAX, 2147483648.0f, true, {}},
        {"-2147483648", INT32_MIN, -2147483648.0f, true, {}},
        {"1e999", 1, FLT_MAX, true, {}},
        {"-1e999", -1, -FLT_MAX, true, {}},
        {"1e999,1,1", 1, FLT_MAX, true, {}},
    };
    for (const auto& c : cases) {
        const SettingValue value(c.text);
        EXPECT_EQ(value.intValue, c.intValue) << c.text;
        EXPECT_EQ(value.floatValue, c.floatValue) << c.text;
        EXPECT_EQ(value.boolValue, c.boolValue) << c.text;
        EXPECT_EQ(value.vector.x, c.vector.x) << c.text;
        EXPECT_EQ(value.vector.y, c.vector.y) << c.text;
        EXPECT_EQ(value.vector.z, c.vector.z) << c.text;
    }
    EXPECT_EQ(SettingValue("  8  // eight").text, "8");
}

TEST(SettingsStoreTest, GettersSettersAndKeys) {
    Settings s;
    s.setString("G", "word", "abc");
    s.setString("G", "twelve", "12");
    s.setInt("G", "neg", -5);
    s.setInt("H:I", "zero", 0);

    int i = 99;
    EXPECT_TRUE(s.getInt("G", "word", i));
    EXPECT_EQ(i, 0);  // present but no number: 0, not the preset
    i = 99;
    EXPECT_TRUE(s.getInt("G", "twelve", i));
    EXPECT_EQ(i, 0);  // set as text, not reparsed
    i = 99;
    EXPECT_FALSE(s.getInt("G", "absent", i));
    EXPECT_FALSE(s.getInt("Absent", "word", i));
    EXPECT_EQ(i, 99);

    std::string text = "preset";
    EXPECT_TRUE(s.getString("G", "neg", text));
    EXPECT_EQ(text, "-5");
    float f = 1.0f;
    EXPECT_TRUE(s.getFloat("G", "neg", f));
    EXPECT_EQ(f, -5.0f);
    bool b = false;
    EXPECT_TRUE(s.getBool("G", "neg", b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(s.getBool("H:I", "zero", b));
    EXPECT_FALSE(b);
    SettingVector v{7, 7, 7};
    EXPECT_FALSE(s.getVector("G", "absent", v));
    EXPECT_EQ(v.x, 7.0f);
    EXPECT_TRUE(s.getVector("G", "neg", v));
    EXPECT_EQ(v.x, 0.0f);

    std::vector<std::string> keys{"kept"};
    s.listKeys("G", keys);
    EXPECT_EQ(keys, (std::vector<std::string>{"kept", "neg", "twelve", "word"}));
    s.listKeys("Absent", keys);
    EXPECT_EQ(keys.size(), 4u);

    EXPECT_TRUE(s.hasKey("G", "word"));
    EXPECT_TRUE(s.removeKey("G", "word"));
    EXPECT_FALSE(s.hasKey("G", "word"));
    EXPECT_FALSE(s.removeKey("G", "word"));
    EXPECT_FALSE(s.removeKey("Absent", "word"));
}

TEST(SettingsStoreTest, SplitList) {
    const struct {
        std::string text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a,b,,c", {"a", "b", "", "c"}},
        {"a,b,", {"a", "b"}},
        {",a", {"", "a"}},
        {"3, 5", {"3", " 5"}},
        {"", {}},
        {"single", {"single"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out{"before"};
        Settings::splitList(c.text, out, ',');
        std::vector<std::string> expected{"before"};
        expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
        EXPECT_EQ(out, expected) << c.text;
    }
}

TEST_F(SettingsTest, SaveWritesTheCanonicalLayout) {
    Settings s = loadText("links\n{\n}\nServerConfig\n{\nport = 61116 // p\nname = Alpha\n}\n");
    s.save("out.txt");
    EXPECT_EQ(readFile("out.txt"),
              "ServerConfig\r\n{\r\n    name = Alpha\r\n    port = 61116\r\n}\r\nlinks\r\n{\r\n}\r\n");

    s.setInt("ServerConfig:Extra", "a", 1);
    s.save("out.txt");
    EXPECT_EQ(readFile("out.txt"),
              "ServerConfig\r\n{\r\n    name = Alpha\r\n    port = 61116\r\n"
              "    Extra\r\n    {\r\n        a = 1\r\n    }\r\n}\r\nlinks\r\n{\r\n}\r\n");
}

TEST_F(SettingsTest, SaveWritesMissingAncestorsAroundTheirChildren) {
    Settings s;
    s.setInt("A", "k", 1);
    s.setInt("X:Y", "y", 2);      // X missing: written at the top
    s.setInt("A:B:C", "c", 3);    // A:B missing: written inside A
    s.setString("X:Z", "z", "t");  // X now known
    s.save("out.txt");
    EXPECT_EQ(readFile("out.txt"),
              "X\r\n{\r\n"
              "    Y\r\n    {\r\n        y = 2\r\n    }\r\n"
              "    Z\r\n    {\r\n        z = t\r\n    }\r\n"
              "}\r\n"
              "A\r\n{\r\n    k = 1\r\n"
              "    B\r\n    {\r\n"
              "        C\r\n        {\r\n            c = 3\r\n        }\r\n"
              "    }\r\n"
              "}\r\n");
    Settings again;
    again.load("out.txt");
    EXPECT_EQ(flatten(again), (Flat{{"A", {{"k", "1"}}},
                                    {"A:B", {}},
                                    {"A:B:C", {{"c", "3"}}},
                                    {"X", {}},
                                    {"X:Y", {{"y", "2"}}},
                                    {"X:Z", {{"z", "t"}}}}));
}

TEST_F(SettingsTest, LoadSaveLoadKeepsPathsKeysAndTexts) {
    const std::string text =
        "// header comment\nroot = dropped\nServerConfig\n{\n  name = Zuvi Vaze // the name\n"
        "  password = a=b:c\n  empty =\n  bare line\n  links\n  {\n    one = host:1\n  }\n}\n"
        "Base\n{\n  v = 1,2,3\n  Deep\n  {\n    Deeper\n    {\n      k = x%25\n    }\n  }\n}\n"
        "Derived : Base\n{\n  v = 4\n}\n";
    const Settings first = loadText(text);
    first.save("round.txt");
    Settings second;
    second.load("round.txt");
    EXPECT_EQ(flatten(second), flatten(first));
    EXPECT_EQ(flatten(first).size(), 8u);
    std::string saved;
    EXPECT_TRUE(second.getString("Derived:Deep:Deeper", "k", saved));
    EXPECT_EQ(saved, "x%25");
    second.save("round2.txt");
    EXPECT_EQ(readFile("round2.txt"), readFile("round.txt"));
}

}  // namespace
