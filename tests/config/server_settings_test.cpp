#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/program_path.h"
#include "server/config/pool_hook.h"
#include "server/config/server_settings.h"
#include "tests/config/temp_folder.h"

namespace {

class ServerSettingsTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        serverSettings = ServerSettings();
        instancePoolStepHook = nullptr;
    }
    void TearDown() override {
        instancePoolStepHook = nullptr;
        TempFolderTest::TearDown();
    }
    void writeConfig(const std::string& serverConfigLines, const std::string& more = "") {
        writeFile("serverconfig.txt", "ServerConfig\n{\n" + serverConfigLines + "}\n" + more);
    }
    bool load() {
        bool running = true;
        loadServerConfiguration(dir_, running);
        return running;
    }
    static std::vector<int> ships() {
        return std::vector<int>(serverSettings.availableShips,
                                serverSettings.availableShips + ServerSettings::shipClassCount);
    }
};

TEST_F(ServerSettingsTest, WithoutAFileTheStartValuesStay) {
    EXPECT_TRUE(load());
    const ServerSettings& s = serverSettings;
    EXPECT_EQ(s.name, "Zuvi Vaze Vadaruri");
    EXPECT_EQ(s.port, 61116);
    EXPECT_EQ(s.timeOfDay, 12);
    EXPECT_EQ(s.weather, 0);
    EXPECT_EQ(s.gameLength, 15);
    EXPECT_EQ(s.time_left_s, 900);
    EXPECT_TRUE(s.dcAllowed);
    EXPECT_TRUE(s.rtsAllowed);
    EXPECT_EQ(s.waitForOthersLength, 2);
    EXPECT_EQ(s.maxShipsPerPlayer, 1);
    EXPECT_EQ(s.playerLimit, 10);
    EXPECT_EQ(s.maxShipSlots, 10);
    EXPECT_FALSE(s.clanserver);
    EXPECT_EQ(s.requiredVersion, -1.0f);
    EXPECT_EQ(s.realism, 1);
    EXPECT_EQ(s.gameType, 0);
    EXPECT_EQ(s.password, "");
    EXPECT_EQ(s.servername, platform::computerName());
    EXPECT_FALSE(s.servername.empty());
    EXPECT_EQ(ships(), std::vector<int>(11, -1));
    EXPECT_TRUE(s.serverLinks.empty());
    EXPECT_TRUE(s.buoys.empty());
    EXPECT_TRUE(s.teamStarts.empty());
    EXPECT_GE(s.randomAngle, 1);
    EXPECT_LE(s.randomAngle, 360);
    // serverconfig.txt, then the empty buoy and start file names.
    EXPECT_EQ(loggedErrors(), (std::vector<std::string>{
                                  "Failed to load non crypted file: " + dir_ + "/serverconfig.txt",
                                  "Failed to load non crypted file: ",
                                  "Failed to load non crypted file: ",
                              }));
}

TEST_F(ServerSettingsTest, EveryKeyIsRead) {
    writeConfig(
        "port = 7000\nname = Alpha\nservername = Host\npassword = pw\ngame_type = 2\n"
        "time_of_day = 18\nweather = 3\ngame_length = 20\ndc_allowed = 0\nrts_allowed = 0\n"
        "wait_for_others_length = 5\nmax_ships_per_player = 3\nmax_players = 8\n"
        "clanserver = 1\nrequiredVersion = 1.2\nrealism = 0\ngroup_file = g.txt\n"
        "group_name = pool\n");
    load();
    const ServerSettings& s = serverSettings;
    EXPECT_EQ(s.port, 7000);
    EXPECT_EQ(s.name, "Alpha");
    EXPECT_EQ(s.servername, "Host");
    EXPECT_EQ(s.password, "pw");
    EXPECT_EQ(s.gameType, 2);
    EXPECT_EQ(s.timeOfDay, 18);
    EXPECT_EQ(s.weather, 3);
    EXPECT_EQ(s.gameLength, 20);
    EXPECT_EQ(s.time_left_s, 1200);
    EXPECT_FALSE(s.dcAllowed);
    EXPECT_FALSE(s.rtsAllowed);
    EXPECT_EQ(s.waitForOthersLength, 5);
    EXPECT_EQ(s.maxShipsPerPlayer, 3);
    EXPECT_EQ(s.playerLimit, 8);
    EXPECT_EQ(s.maxShipSlots, 24);
    EXPECT_TRUE(s.clanserver);
    EXPECT_EQ(s.requiredVersion, 1.2f);
    EXPECT_EQ(s.realism, 0);
    EXPECT_EQ(s.groupFile, "g.txt");
    EXPECT_EQ(s.groupName, "pool");

    load();  // the same file again: same derived values
    EXPECT_EQ(s.playerLimit, 8);
    EXPECT_EQ(s.maxShipSlots, 24);
}

TEST_F(ServerSettingsTest, MissingKeysKeepCurrentValuesExceptGameTypeRealismAndShips) {
    writeConfig("port = 7000\nmax_players = 4\nmax_ships_per_player = 2\ngame_type = 3\n"
                "realism = 0\navailable_ships = 1\ngroup_name = pool\n");
    load();
    writeConfig("max_ships_per_player = 5\n");
    load();
    const ServerSettings& s = serverSettings;
    EXPECT_EQ(s.port, 7000);
    EXPECT_EQ(s.playerLimit, 4);
    EXPECT_EQ(s.maxShipSlots, 20);
    EXPECT_EQ(s.gameType, 0);
    EXPECT_EQ(s.realism, 1);
    EXPECT_EQ(ships(), std::vector<int>(11, -1));
    EXPECT_EQ(s.groupName, "pool");
}

TEST_F(ServerSettingsTest, MalformedNumbersReadAsZeroAndFlagsAsWholeNumbers) {
    writeConfig("port = abc\ndc_allowed = true\nrts_allowed = 2\nclanserver = yes\n"
                "max_players = 99999999999\nmax_ships_per_player = 99999999999\n"
                "game_length = 99999999999\n");
    load();
    EXPECT_EQ(serverSettings.port, 0);
    EXPECT_FALSE(serverSettings.dcAllowed);
    EXPECT_TRUE(serverSettings.rtsAllowed);
    EXPECT_FALSE(serverSettings.clanserver);
    EXPECT_EQ(serverSettings.playerLimit, INT32_MAX);
    EXPECT_EQ(serverSettings.maxShipSlots, INT32_MAX);  // product clamped, no overflow
    EXPECT_EQ(serverSettings.time_left_s, INT32_MAX);
}

TEST_F(ServerSettingsTest, RangeRules) {
    const struct {
        const char* lines;
        int gameType, timeOfDay, weather;  // -100: one of the drawn values
    } cases[] = {
        {"time_of_day = 24\n", 0, 24, 0},
        {"time_of_day = 0\n", 0, 0, 0},
        {"time_of_day = 30\n", 0, -100, 0},
        {"time_of_day = -1\n", 0, -100, 0},
        {"weather = 0\n", 0, 12, 0},
        {"weather = 3\n", 0, 12, 3},
        {"weather = 4\n", 0, 12, -100},
        {"weather = -1\n", 0, 12, -100},
        {"game_type = -1\n", -1, 12, 0},
        {"game_type = 4\n", 4, 12, 0},
        {"game_type = 5\n", 0, 12, 0},
        {"game_type = -2\n", 0, 12, 0},
    };
    for (const auto& c : cases) {
        serverSettings = ServerSettings();
        writeConfig(c.lines);
        load();
        EXPECT_EQ(serverSettings.gameType, c.gameType) << c.lines;
        if (c.timeOfDay == -100) {
            EXPECT_TRUE(serverSettings.timeOfDay == 6 || serverSettings.timeOfDay == 12 ||
                        serverSettings.timeOfDay == 18) << c.lines;
        } else {
            EXPECT_EQ(serverSettings.timeOfDay, c.timeOfDay) << c.lines;
        }
        if (c.weather == -100) {
            EXPECT_GE(serverSettings.weather, 1) << c.lines;
            EXPECT_LE(serverSettings.weather, 3) << c.lines;
        } else {
            EXPECT_EQ(serverSettings.weather, c.weather) << c.lines;
        }
    }
}

TEST_F(ServerSettingsTest, RandomDrawsComeInTheStatedOrder) {
    const struct {
        const char* lines;
        bool drawsTime, drawsWeather;
    } cases[] = {
        {"time_of_day = 30\nweather = 9\n", true, true},
        {"time_of_day = 6\nweather = 9\n", false, true},
        {"time_of_day = 25\nweather = 1\n", true, false},
    };
    for (const auto& c : cases) {
        for (unsigned seed : {1u, 7u, 12345u}) {
            srand(seed);
            const int angleDraw = rand();
            const int secondDraw = rand();
            const int thirdDraw = rand();
            serverSettings = ServerSettings();
            writeConfig(c.lines);
            srand(seed);
            load();
            EXPECT_EQ(serverSettings.randomAngle, angleDraw % 360 + 1);
            if (c.drawsTime) {
                EXPECT_EQ(serverSettings.timeOfDay, 6 * (secondDraw % 3 + 1));
            }
            const int weatherDraw = c.drawsTime ? thirdDraw : secondDraw;
            if (c.drawsWeather) {
                EXPECT_EQ(serverSettings.weather, weatherDraw % 3 + 1);
            }
            // Nothing else is drawn: the next number is the one after the used ones.
            const int used = 1 + c.drawsTime + c.drawsWeather;
            srand(seed);
            for (int i = 0; i < used; ++i) rand();
            const int expectedNext = rand();
            srand(seed);
            load();
            EXPECT_EQ(rand(), expectedNext) << c.lines << " seed " << seed;
        }
    }
}

TEST_F(ServerSettingsTest, RequiredVersionIsKeptOnceSet) {
    const struct {
        const char* first;
        const char* second;
        float expected;
    } cases[] = {
        {"requiredVersion = 1.2\n", "requiredVersion = 1.5\n", 1.2f},
        {"requiredVersion = 0\n", "requiredVersion = 1.5\n", 0.0f},
        {"requiredVersion = -3\n", "requiredVersion = 1.5\n", 1.5f},
        {"", "requiredVersion = 1.5\n", 1.5f},
    };
    for (const auto& c : cases) {
        serverSettings = ServerSettings();
        writeConfig(c.first);
        load();
        writeConfig(c.second);
        load();
        EXPECT_EQ(serverSettings.requiredVersion, c.expected) << c.first;
    }
}

TEST_F(ServerSettingsTest, AvailableShips) {
    const struct {
        const char* text;
        std::vector<int> expected;
    } cases[] = {
        {"3,5,7", {3, 5, 7, -1, -1, -1, -1, -1, -1, -1, -1}},
        {"3, 5", {3, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
        {"", {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
        {"1,,x,+4,-2,5a,99999999999", {1, -1, -1, 4, -2, -1, -1, -1, -1, -1, -1}},
        {"0,1,2,3,4,5,6,7,8,9,10,11,12", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
    };
    for (const auto& c : cases) {
        writeConfig(std::string("available_ships = ") + c.text + "\n");
        load();
        EXPECT_EQ(ships(), c.expected) << c.text;
    }
}

TEST_F(ServerSettingsTest, Links) {
    const std::string name25 = "abcdefghijklmnopqrstuvwxy";
    const std::string host30 = "host.example.with.a.long.name";
    writeConfig("", "links\n{\n"
                    "    " + name25 + "zz = " + host30 + ":61117\n"
                    "    b = 10.0.0.2:61118\n"
                    "    c = 61119\n"
                    "    d = 10.0.0.4:port\n"
                    "    e = 10.0.0.5:70000\n"
                    "    f = 10.0.0.6:-1\n"
                    "    g = 10.0.0.7: 5\n"
                    "}\n");
    load();
    writeConfig("", "links\n{\n" + name25 + "zz = x:1\nb = 10.0.0.2:61118\nc = 61119\n"
                    "d = 10.0.0.4:port\ne = 10.0.0.5:70000\nf = 10.0.0.6:-1\ng = 10.0.0.7: 5\n}\n");
    load();  // the list is rebuilt, not appended to
    const auto& links = serverSettings.serverLinks;
    ASSERT_EQ(links.size(), 7u);
    EXPECT_EQ(std::string(links[0].linkName, 25), name25);  // no terminator
    EXPECT_EQ(std::string(links[0].ip, sizeof links[0].ip).c_str(), std::string("x"));
    EXPECT_EQ(+links[0].port, 1);
    const struct {
        const char* name;
        const char* host;
        uint16_t port;
    } rest[] = {
        {"b", "10.0.0.2", 61118}, {"c", "", 61119},        {"d", "10.0.0.4", 0},
        {"e", "10.0.0.5", 0},     {"f", "10.0.0.6", 0},    {"g", "10.0.0.7", 0},
    };
    for (size_t i = 0; i < std::size(rest); ++i) {
        const KSTMP::ServerLink& link = links[i + 1];
        EXPECT_EQ(std::string(link.linkName), rest[i].name);
        EXPECT_EQ(std::string(link.ip), rest[i].host) << rest[i].name;
        EXPECT_EQ(+link.port, rest[i].port) << rest[i].name;
        // Short texts are followed by zero bytes to the end of the field.
        for (size_t k = strlen(rest[i].host); k < sizeof link.ip; ++k) EXPECT_EQ(link.ip[k], 0);
    }

    writeConfig("", "links\n{\nlong = " + host30 + ":5\n}\n");
    load();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(std::string(links[0].ip, 25), host30.substr(0, 25));
    EXPECT_EQ(+links[0].port, 5);
}

TEST_F(ServerSettingsTest, BuoysEndAtTheFirstMissingGroup) {
    writeConfig("buoy_file = buoys/domination.txt\n");
    writeFile("buoys/domination.txt",
              "b0\n{\nType = 2\nNextType = 7\nPosition = 10,0,-25.5\nTime = 30\n}\n"
              "b1\n{\nType = 1\nEffectRange = 40\nHoldRange = 20\n}\n"
              "b3\n{\nType = 3\n}\n");
    load();
    const auto& buoys = serverSettings.buoys;
    ASSERT_EQ(buoys.size(), 2u);
    const KSTMP::BuoyInfo& b0 = buoys[0];
    EXPECT_EQ(+b0.buoyId, 0);
    EXPECT_EQ(+b0.buoyType, 2);
    EXPECT_EQ(+b0.nextType, -1);
    EXPECT_EQ(+b0.position.x, 10.0f);
    EXPECT_EQ(+b0.position.y, 0.0f);
    EXPECT_EQ(+b0.position.z, -25.5f);
    EXPECT_EQ(+b0.timer, 30);
    EXPECT_EQ(+b0.timerReset, 30);
    EXPECT_EQ(+b0.effectRange, 10);
    EXPECT_EQ(+b0.holdRange, 10);
    EXPECT_EQ(+b0.paused, 1);
    EXPECT_EQ(+b0.team, -1);
    EXPECT_EQ(+b0.ship, -1);
    EXPECT_EQ(+b0.changed, 0);
    const KSTMP::BuoyInfo& b1 = buoys[1];
    EXPECT_EQ(+b1.buoyId, 1);
    EXPECT_EQ(+b1.buoyType, 1);
    EXPECT_EQ(+b1.timer, 0);
    EXPECT_EQ(+b1.effectRange, 40);
    EXPECT_EQ(+b1.holdRange, 20);
    EXPECT_EQ(+b1.position.x, 0.0f);

    load();  // rebuilt, not appended
    EXPECT_EQ(serverSettings.buoys.size(), 2u);
}

TEST_F(ServerSettingsTest, BuoyListStopsWhereIdsWouldWrap) {
    std::string file;
    for (int i = 0; i < 200; ++i) file += "b" + std::to_string(i) + "\n{\nType = 1\n}\n";
    writeFile("many.txt", file);
    writeConfig("buoy_file = many.txt\n");
    load();
    ASSERT_EQ(serverSettings.buoys.size(), static_cast<size_t>(maxBuoys));
    EXPECT_EQ(+serverSettings.buoys.back().buoyId, 127);
}

TEST_F(ServerSettingsTest, StartFilesWithGapsAndTeamCentres) {
    writeConfig("start_file = starts.txt\n");
    writeFile("starts.txt",
              "team0\n{\n0 = 0,0,0\n1 = 10,2,-4\n3 = 99,99,99\n}\n"
              "team1\n{\n0 = 5,5,5\n2 = 7,7,7\n}\n"
              "team3\n{\n0 = 1,1,1\n}\n");
    load();
    const auto& starts = serverSettings.teamStarts;
    ASSERT_EQ(starts.size(), 2u);
    ASSERT_EQ(starts.at(0).size(), 2u);
    EXPECT_EQ(+starts.at(0)[1].x, 10.0f);
    EXPECT_EQ(+starts.at(0)[1].z, -4.0f);
    ASSERT_EQ(starts.at(1).size(), 1u);
    EXPECT_EQ(+starts.at(1)[0].y, 5.0f);
    const auto& centres = serverSettings.teamCentres;
    ASSERT_EQ(centres.size(), 2u);
    EXPECT_EQ(+centres.at(0).x, 5.0f);
    EXPECT_EQ(+centres.at(0).y, 1.0f);
    EXPECT_EQ(+centres.at(0).z, -2.0f);
    EXPECT_EQ(+centres.at(1).x, 5.0f);

    writeFile("starts.txt", "team0\n{\n1 = 1,1,1\n}\nteam1\n{\n0 = 1,1,1\n}\n");
    load();  // a team without key 0 ends the list
    EXPECT_TRUE(serverSettings.teamStarts.empty());
    EXPECT_TRUE(serverSettings.teamCentres.empty());
}

TEST_F(ServerSettingsTest, GroupFileKeysMayComeFromTheBuoyOrStartFile) {
    writeConfig("group_file = a.txt\ngroup_name = first\nport = 1\nbuoy_file = b.txt\n"
                "start_file = s.txt\n");
    writeFile("b.txt", "ServerConfig\n{\ngroup_file = from_buoys.txt\nport = 2\n}\n");
    writeFile("s.txt", "ServerConfig\n{\ngroup_name = from_starts\n}\n");
    load();
    EXPECT_EQ(serverSettings.groupFile, "from_buoys.txt");
    EXPECT_EQ(serverSettings.groupName, "from_starts");
    EXPECT_EQ(serverSettings.port, 1);  // read before the other files were loaded
}

std::string groupFileSeenByPool;
void stoppingPoolStep(bool& serverRunning) {
    groupFileSeenByPool = serverSettings.groupFile;
    serverRunning = false;
}

TEST_F(ServerSettingsTest, LoadEndsWithThePoolStep) {
    writeConfig("group_file = pool.txt\n");
    EXPECT_TRUE(load());  // no step installed
    instancePoolStepHook = &stoppingPoolStep;
    groupFileSeenByPool.clear();
    EXPECT_FALSE(load());
    EXPECT_EQ(groupFileSeenByPool, "pool.txt");
}

}  // namespace
