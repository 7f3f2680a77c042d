// Login verdicts, the Lumio path with its login logs, and the master server's verdicts.
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "protocol/text.h"
#include "server/config/settings.h"
#include "server/core/login.h"
#include "server_harness.h"

using namespace harness;
namespace fs = std::filesystem;

namespace {

KSTMP::LogIn makeLogIn(const std::string& user, const std::string& password, bool lumio) {
    KSTMP::LogIn login;
    protocol::writeText(login.userName, user);
    protocol::writeText(login.password, password);
    login.editionFlag = lumio ? 1 : 0;
    return login;
}

class LoginTest : public ServerTest {
protected:
    // Sends the login and returns the verdict the client received (0 when none came).
    int login(Client& client, const KSTMP::LogIn& record) {
        client.clear();
        client.send(record);
        if (!pumpUntil([&] { return !client.notifiers(KSTMP::ntf_login_result).empty(); }))
            return 0;
        settle(20);
        return client.notifiers(KSTMP::ntf_login_result).front().param;
    }

    void writePasswords() {
        std::ofstream(folder + "/passwords.txt") << "PassWords\n{\n    captain1 = sail\n    nopass =\n}\n";
    }
};

struct OrdinaryRow {
    const char* name;
    const char* config;
    int playersBefore;
    const char* password;
    int verdict;
    const char* line;  // printed after "Log in: ..."; empty for none
};

void PrintTo(const OrdinaryRow& row, std::ostream* out) { *out << row.name; }

class LoginVerdictTest : public LoginTest, public ::testing::WithParamInterface<OrdinaryRow> {};

TEST_P(LoginVerdictTest, OrdinaryClient) {
    const OrdinaryRow& row = GetParam();
    startServer(row.config);
    for (int i = 0; i < row.playersBefore; ++i)
        join("p" + std::to_string(i));
    Client& client = connect();
    console();
    EXPECT_EQ(login(client, makeLogIn("bob", row.password, false)), row.verdict);
    EXPECT_EQ(client.count(KSTMP::cmd_game_type), row.verdict == verdict_accepted ? 1 : 0)
        << "a fresh game type follows verdict 2 only";
    const std::string text = console();
    EXPECT_EQ(text.rfind("Log in: bob\n" + std::string(row.line), 0), 0u) << text;
    for (const char* other : {"accepted\n", "declined\n", "game is full\n"}) {
        if (std::string(other) != row.line) {
            EXPECT_EQ(text.find(other), std::string::npos) << other;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, LoginVerdictTest,
    ::testing::Values(OrdinaryRow{"NoPassword", "password =", 0, "anything", verdict_open, ""},
                      OrdinaryRow{"Match", "password = Secret", 0, "Secret", verdict_accepted, "accepted\n"},
                      OrdinaryRow{"OtherCase", "password = Secret", 0, "secret", verdict_declined, "declined\n"},
                      OrdinaryRow{"TrailingBlank", "password = Secret", 0, "Secret ", verdict_declined, "declined\n"},
                      OrdinaryRow{"FullWithRightPassword", "password = Secret\nmax_players = 1", 1, "Secret",
                                  verdict_full, "game is full\n"},
                      OrdinaryRow{"FullWithoutPassword", "max_players = 2", 2, "", verdict_full, "game is full\n"}),
    [](const ::testing::TestParamInfo<OrdinaryRow>& info) { return std::string(info.param.name); });

platform::CalendarTime fixedTime() { return platform::CalendarTime{2009, 12, 24, 18, 30, 5, 0}; }

TEST_F(LoginTest, LumioLoginsAreJudgedByAccountAndLogged) {
    writePasswords();
    startServer("password = Secret\nmax_players = 1");
    join("full");  // the player limit plays no part for this edition
    Client& client = connect();
    platform::setCalendarSource(&fixedTime);
    console();
    EXPECT_EQ(login(client, makeLogIn("captain1", "sail", true)), verdict_accepted);
    EXPECT_EQ(client.count(KSTMP::cmd_game_type), 1);
    EXPECT_EQ(login(client, makeLogIn("captain1", "Sail", true)), verdict_declined);
    EXPECT_EQ(login(client, makeLogIn("captain1", "sail", true)), verdict_accepted);
    platform::setCalendarSource(nullptr);
    EXPECT_EQ(occurrences(console(), "Log in: captain1\nlogin lumio version\n"), 3);

    Settings log;
    log.load(folder + "/logins/captain1.log");
    std::vector<std::string> keys;
    log.listKeys("IPs", keys);
    EXPECT_EQ(keys, (std::vector<std::string>{"0", "1", "2"}));
    std::string address;
    EXPECT_TRUE(log.getString("IPs", "2", address));
    EXPECT_EQ(address, client.address().ToString(true));
    std::string entry;
    EXPECT_TRUE(log.getString("Login_success", "12/24/09_18:30:05", entry));
    EXPECT_EQ(entry, "2") << "the later login of the same second wins the key";
    EXPECT_TRUE(log.getString("Login_failed", "12/24/09_18:30:05", entry));
    EXPECT_EQ(entry, "1");
}

TEST_F(LoginTest, LumioEmptyPasswordIsDeclinedAndLoggedAsFailed) {
    writePasswords();
    startServer();
    Client& client = connect();
    for (const char* user : {"nopass", "ghost", "captain1"}) {
        SCOPED_TRACE(user);
        EXPECT_EQ(login(client, makeLogIn(user, "", true)), verdict_declined);
        Settings log;
        log.load(folder + "/logins/" + user + ".log");
        std::vector<std::string> failed;
        log.listKeys("Login_failed", failed);
        EXPECT_EQ(failed.size(), 1u);
    }
}

TEST_F(LoginTest, MissingLoginsFolderDoesNotStopTheLogin) {
    writePasswords();
    fs::remove_all(folder + "/logins");
    startServer();
    Client& client = connect();
    EXPECT_EQ(login(client, makeLogIn("captain1", "sail", true)), verdict_accepted);
    EXPECT_FALSE(fs::exists(folder + "/logins")) << "the folder is not created";
}

TEST_F(LoginTest, UnsafeUserNamesStayInsideTheLoginsFolder) {
    startServer();
    Client& client = connect();
    const std::string traversal = "../../evil";
    EXPECT_EQ(login(client, makeLogIn(traversal, "x", true)), verdict_declined);
    EXPECT_EQ(login(client, makeLogIn("/tmp/abs", "x", true)), verdict_declined);
    std::vector<std::string> outside;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string path = item.path().string();
        if (item.is_regular_file() && path.rfind(folder + "/logins/", 0) != 0)
            outside.push_back(path.substr(root.size()));
    }
    std::sort(outside.begin(), outside.end());
    EXPECT_EQ(outside, (std::vector<std::string>{"/console.txt", "/srv/log.html", "/srv/serverconfig.txt"}));
    EXPECT_TRUE(fs::exists(folder + "/logins/%2E%2E%2F%2E%2E%2Fevil.log"));
    EXPECT_TRUE(fs::exists(folder + "/logins/%2Ftmp%2Fabs.log"));
}

TEST(LoginLogName, SafeNamesUnchangedOthersEscaped) {
    const std::pair<std::string, std::string> rows[] = {
        {"captain1", "captain1"},   {"a.b", "a.b"},           {"Anna Maria", "Anna Maria"},
        {"..", "%2E%2E"},           {".", "%2E"},             {"a..b", "a%2E%2Eb"},
        {"../x", "%2E%2E%2Fx"},     {"a/b", "a%2Fb"},         {"a\\b", "a%5Cb"},
        {"x\ty", "x%09y"},          {"50%", "50%25"},         {"", "%"},
        {"%2E%2E", "%252E%252E"},   {"a:b*c?", "a%3Ab%2Ac%3F"},
    };
    for (const auto& [user, expected] : rows)
        EXPECT_EQ(loginLogName(user), expected) << "user name \"" << user << "\"";
}

TEST_F(LoginTest, MasterServerVerdictIsPassedToThePlayer) {
    startServer();
    Client& player = connect();
    Client& master = connect();
    struct Row {
        uint8_t success;
        int verdict;
        const char* line;
    } rows[] = {{1, verdict_accepted, "login success\n"}, {0, verdict_declined, "login failed\n"}};
    for (const Row& row : rows) {
        player.clear();
        master.clear();
        console();
        KSTMP::VerifyLoginResult result;
        result.player.setFrom(player.address());
        result.success = row.success;
        master.send(result);
        ASSERT_TRUE(pumpUntil([&] { return !player.notifiers(KSTMP::ntf_login_result).empty(); }));
        settle(20);
        EXPECT_EQ(+player.notifiers(KSTMP::ntf_login_result).front().param, row.verdict);
        EXPECT_EQ(player.count(KSTMP::cmd_game_type), 0);
        EXPECT_TRUE(master.inbox.empty());
        EXPECT_EQ(console(), row.line);
    }
}

}  // namespace
