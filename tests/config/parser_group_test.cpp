#include <sstream>
#include <string>

#include "server/config/parser_group.h"
#include "server/config/settings.h"
#include "tests/config/temp_folder.h"

namespace {

using editor::ParserGroup;

ParserGroup parseText(const std::string& text) {
    std::istringstream in(text);
    ParserGroup root;
    root.parse(in);
    return root;
}

TEST(ParserGroupTest, TreeAccessAndBareLines) {
    ParserGroup root = parseText("top = 1\nA\n{\n{\nb = 2\na = 1\n= x\njust text\nB\n{\n}\n}\n");
    EXPECT_EQ(root.getValue("top"), "1");
    ASSERT_EQ(root.subgroupCount(), 1);
    EXPECT_EQ(root.subgroupNameAt(0), "A");
    EXPECT_EQ(root.subgroupNameAt(1), "");
    EXPECT_EQ(root.subgroupNameAt(-1), "");
    ParserGroup& a = root.getSubgroup("A");
    ASSERT_EQ(a.valueCount(), 2);
    EXPECT_EQ(a.keyAt(0), "a");
    EXPECT_EQ(a.keyAt(1), "b");
    EXPECT_EQ(a.keyAt(2), "");
    EXPECT_EQ(a.getValue("missing"), "");
    EXPECT_EQ(a.bareLines(), (std::vector<std::string>{"= x", "just text"}));
    EXPECT_EQ(a.subgroupCount(), 1);
    ParserGroup& made = root.getSubgroup("New");
    EXPECT_EQ(made.valueCount(), 0);
    EXPECT_EQ(root.subgroupCount(), 2);
}

TEST(ParserGroupTest, CopyIsDeep) {
    ParserGroup root = parseText("A\n{\nx=1\nB\n{\ny=2\n}\n}\n");
    ParserGroup copy(root.getSubgroup("A"));
    std::istringstream more("z=3\n}\n");
    root.getSubgroup("A").getSubgroup("B").parse(more);
    EXPECT_EQ(root.getSubgroup("A").getSubgroup("B").getValue("z"), "3");
    EXPECT_EQ(copy.getSubgroup("B").getValue("z"), "");
    EXPECT_EQ(copy.getSubgroup("B").getValue("y"), "2");
    copy = copy.getSubgroup("B");  // assigning from inside its own tree
    EXPECT_EQ(copy.getValue("y"), "2");
    EXPECT_EQ(copy.subgroupCount(), 0);
}

// Trees far deeper than any parse makes are copied and freed without recursion.
TEST(ParserGroupBadInput, VeryDeepTreeIsCopiedAndFreed) {
    constexpr int depth = 200000;
    auto root = std::make_unique<ParserGroup>();
    ParserGroup* group = root.get();
    for (int i = 0; i < depth; ++i) group = &group->getSubgroup("g");
    std::istringstream leaf("k=v\n");
    group->parse(leaf);
    ParserGroup copy(*root);
    const ParserGroup* walk = &copy;
    int levels = 0;
    while (walk->subgroupCount() == 1) {
        walk = walk->subgroups().begin()->second.get();
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(walk->getValue("k"), "v");
    root.reset();
}

class SettingsBadInput : public TempFolderTest {
protected:
    Settings loadBytes(const std::string& bytes) {
        writeFile("bad.txt", bytes);
        Settings settings;
        settings.load("bad.txt");
        return settings;
    }
    static std::string value(const Settings& s, const std::string& group, const std::string& key) {
        std::string text = "<absent>";
        s.getString(group, key, text);
        return text;
    }
};

TEST_F(SettingsBadInput, BinaryBytes) {
    // A deterministic byte soup, once with zero bytes (the text ends at the first) and once
    // without.
    uint32_t state = 12345;
    std::string soup;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        soup += static_cast<char>(state >> 16);
    }
    std::string noZero = soup;
    for (char& c : noZero) {
        if (c == '\0') c = '\x01';
    }
    for (const std::string& garbage : {soup, noZero}) {
        const Settings s = loadBytes("Good\n{\nx = 1\n}\n" + garbage);
        EXPECT_EQ(value(s, "Good", "x"), "1");
        s.save("out.txt");  // the writer copes with whatever was read
        EXPECT_NE(readFile("out.txt").find("Good\r\n{\r\n    x = 1\r\n}\r\n"), std::string::npos);
    }
}

TEST_F(SettingsBadInput, MegabyteLines) {
    const std::string big(1 << 20, 'v');
    const Settings s = loadBytes("A\n{\nkey = " + big + "\n" + big + "k = 2\n}\nB\n{\ny = 1\n}\n");
    EXPECT_EQ(value(s, "A", "key"), big);
    EXPECT_EQ(value(s, "A", big + "k"), "2");
    EXPECT_EQ(value(s, "B", "y"), "1");
    s.save("out.txt");
    Settings again;
    again.load("out.txt");
    EXPECT_EQ(value(again, "A", "key"), big);
}

TEST_F(SettingsBadInput, ThousandsOfUnbalancedBraces) {
    std::string closers;
    for (int i = 0; i < 5000; ++i) closers += "}\n";
    const Settings closed = loadBytes("A\n{\nx=1\n" + closers + "B\n{\ny=1\n}\n");
    EXPECT_EQ(closed.groups().size(), 1u);  // the second "}" ends the read
    EXPECT_EQ(value(closed, "A", "x"), "1");

    std::string openers;
    for (int i = 0; i < 5000; ++i) openers += "{\n";
    const Settings opened = loadBytes("A\n{\nx=1\n" + openers + "y=2\n");
    EXPECT_EQ(value(opened, "A", "x"), "<absent>");  // "x=1" became a group name
    EXPECT_EQ(opened.groups().size(), static_cast<size_t>(ParserGroup::maxDepth));

    const Settings mixed = loadBytes(openers + closers + "A\n{\nz=3\n}\n");
    EXPECT_EQ(value(mixed, "A", "z"), "<absent>");
}

TEST_F(SettingsBadInput, GroupsNestedTenThousandDeep) {
    constexpr int depth = 10000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += "G\n{\nk" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    for (int i = 0; i < depth; ++i) text += "}\n";
    text += "After\n{\nz = 1\n}\n";
    const Settings s = loadBytes(text);
    // Groups down to the depth limit are kept, deeper lines are dropped, and the braces
    // still match so the group after the nest is read.
    std::string path = "G";
    for (int level = 1; level <= ParserGroup::maxDepth; ++level) {
        EXPECT_EQ(value(s, path, "k" + std::to_string(level - 1)), std::to_string(level - 1));
        path += ":G";
    }
    EXPECT_EQ(s.groups().count(path), 0u);
    EXPECT_EQ(s.groups().size(), static_cast<size_t>(ParserGroup::maxDepth) + 1);
    EXPECT_EQ(value(s, "After", "z"), "1");
    s.save("out.txt");
    Settings again;
    again.load("out.txt");
    EXPECT_EQ(again.groups().size(), s.groups().size());
}

}  // namespace
