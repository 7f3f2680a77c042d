#include <filesystem>

#include "platform/clock.h"
#include "server/config/engine_log.h"
#include "tests/config/temp_folder.h"

namespace {

platform::CalendarTime fixedTime;
platform::CalendarTime fixedClock() { return fixedTime; }

class EngineLogTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        platform::setCalendarSource(&fixedClock);
    }
    void TearDown() override {
        platform::setCalendarSource(nullptr);
        TempFolderTest::TearDown();
    }
};

TEST_F(EngineLogTest, FirstErrorWritesHeaderAndEntryAndNextEntryContinuesTheLine) {
    fixedTime = {2009, 6, 24, 12, 5, 7, 42};
    EngineLog::instance().error("Failed to load non crypted file: x");
    const std::string entry =
        "[12:05:07:042] <font color='#dd0000'><strong>[12:05:07:042] ERROR: "
        "Failed to load non crypted file: x\r\n"
        "[12:05:07:042] </font></strong></br>";
    const std::string header = "<font size='+2'><u> 24.6.2009 [12:05]</u></font></br></br> \r\n";
    EXPECT_EQ(readFile("log.html"), header + entry);

    fixedTime = {2009, 6, 24, 12, 6, 0, 1};
    EngineLog::instance().error("second");
    EXPECT_EQ(readFile("log.html"),
              header + entry +
                  "[12:06:00:001] <font color='#dd0000'><strong>[12:06:00:001] ERROR: second\r\n"
                  "[12:06:00:001] </font></strong></br>");
}

TEST_F(EngineLogTest, NumbersArePaddedOnlyWhereTheFormatSays) {
    fixedTime = {2010, 1, 2, 9, 5, 3, 7};
    EngineLog::instance().write("text", false);
    EXPECT_EQ(readFile("log.html"),
              "<font size='+2'><u> 2.1.2010 [9:05]</u></font></br></br> \r\n[9:05:03:007] text");
}

TEST_F(EngineLogTest, NullMessageIsWrittenAsNull) {
    fixedTime = {2009, 6, 24, 0, 0, 0, 0};
    EngineLog::instance().error(nullptr);
    EXPECT_NE(readFile("log.html").find("ERROR: (null)\r\n"), std::string::npos);
}

TEST_F(EngineLogTest, RunWithoutErrorsLeavesEarlierLogAloneAndFirstErrorTruncatesIt) {
    writeFile("log.html", "earlier run");
    EngineLog::instance();
    EXPECT_EQ(readFile("log.html"), "earlier run");

    fixedTime = {2009, 6, 24, 12, 5, 7, 42};
    EngineLog::instance().error("now");
    const std::string log = readFile("log.html");
    EXPECT_EQ(log.find("earlier run"), std::string::npos);
    EXPECT_EQ(log.rfind("<font size='+2'><u> 24.6.2009", 0), 0u);
}

TEST_F(EngineLogTest, TextsAreDroppedUntilTheFileCanBeCreated) {
    fixedTime = {2009, 6, 24, 12, 5, 7, 42};
    std::filesystem::create_directory(path("log.html"));  // blocks the file
    EngineLog::instance().error("lost");
    std::filesystem::remove(path("log.html"));
    EngineLog::instance().error("kept");
    const std::string log = readFile("log.html");
    EXPECT_EQ(log.find("lost"), std::string::npos);
    EXPECT_NE(log.find("ERROR: kept\r\n"), std::string::npos);
}

}  // namespace
