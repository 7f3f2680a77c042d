#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "protocol/record_kinds.h"
#include "protocol/text.h"
#include "record_samples.h"

namespace {

using namespace KSTMP;

Bytes le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes f32(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return le32(u);
}
Bytes ff(size_t n) { return Bytes(n, 0xFF); }
const Bytes unassigned{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00};

TEST(Records, HeaderOfEveryFreshRecord) {
    for (const RecordSample& s : allRecordSamples()) {
        SCOPED_TRACE(s.type);
        const Bytes b = s.make();
        ASSERT_EQ(b.size(), size_t(s.size));
        EXPECT_EQ(b[0], 25);
        EXPECT_EQ(Bytes(b.begin() + 1, b.begin() + 5), le32(0));  // timeStamp
        EXPECT_EQ(b[5], s.id);
        EXPECT_EQ(Bytes(b.begin() + 6, b.begin() + 10), le32(uint32_t(s.size)));
        EXPECT_EQ(Bytes(b.begin() + 10, b.begin() + 18), unassigned);  // target, zero padding
        EXPECT_EQ(Bytes(b.begin() + 26, b.begin() + 28), le16(0));    // transitTime

        const protocol::RecordKind* kind = protocol::recordKind(uint8_t(s.id));
        ASSERT_NE(kind, nullptr);
        EXPECT_EQ(kind->size, s.size);
        EXPECT_STREQ(kind->typeName, s.type.c_str());
    }
    EXPECT_EQ(protocol::recordKinds().size(), allRecordSamples().size());
}

struct Initial {
    std::string type;
    std::map<int, Bytes> values;            // offset -> bytes; every other body byte is zero
    std::vector<std::pair<int, int>> unset;  // offset, length: left to the sender
};

TEST(Records, InitialFieldValues) {
    const std::vector<Initial> table = {
        {"BaseCommand", {}, {}},
        {"Notifier", {}, {}},
        {"LogIn", {{78, f32(1.0f)}}, {}},
        {"VerifyLogin", {{78, f32(1.0f)}, {339, unassigned}, {347, unassigned}}, {}},
        {"VerifyLoginResult", {{28, unassigned}, {36, unassigned}}, {}},
        {"GameType",
         {{88, {12}}, {89, {1}}, {92, {15}}, {93, le16(2)}, {95, ff(11)}, {111, unassigned}, {119, {1}}, {120, {1}},
          {122, le32(1)}},
         {{90, 2}, {107, 4}}},
        {"ServerLink", {}, {}},
        {"SlotInfo", {}, {}},
        {"ConnectionStatus", {}, {}},
        {"PlayerInfo", {{65, {1}}, {72, ff(5)}}, {}},
        {"Chat", {{590, {255}}, {591, {255}}}, {}},
        {"Authentication", {{241, {1}}}, {{232, 8}}},
        {"UpdateAccount", {}, {}},
        {"UpdateInGame", {}, {}},
        {"VersionUpdate", {{796, unassigned}}, {}},
        {"CheckForUpdate", {{40, unassigned}, {48, unassigned}}, {}},
        {"ShipInfo", {{28, {0xFF}}, {29, unassigned}, {77, {1}}, {102, ff(14)}}, {}},
        {"Coordinates", {{28, {0xFF}}, {79, le32(0xFFFFFFFF)}, {83, f32(1.0f)}, {87, le32(0xFFFFFFFF)}}, {}},
        {"simplePosition", {{28, {0xFF}}}, {}},
        {"Damagelevel", {{39, le16(0xFFFF)}, {41, {0xFF}}}, {{28, 1}}},
        {"CannonShot", {}, {}},
        {"CannonTarget", {{28, {1}}, {29, {255}}, {30, {255}}}, {}},
        {"RespawnShip", {{28, {0xFF}}}, {}},
        {"WeatherInfo", {{36, {1}}}, {{37, 1}}},
        {"BuoyInfo", {{28, {0xFF}}, {30, {0xFF}}, {31, {0xFF}}, {49, {0xFF}}, {50, le16(50)}, {52, le16(10)}}, {}},
        {"TeamScore", {{28, {0xFF}}}, {}},
        {"UpdatePlayerStats", {{78, f32(1.0f)}, {339, unassigned}, {347, unassigned}, {463, le16(65535)}}, {}},
        {"VerifyStatsResult", {{28, unassigned}, {36, unassigned}}, {}},
        {"PirateResults", {{78, f32(1.0f)}, {339, unassigned}, {347, unassigned}}, {}},
        {"PirateResultsReply", {{28, unassigned}, {36, unassigned}}, {}},
    };
    std::map<std::string, RecordSample> samples;
    for (const RecordSample& s : allRecordSamples()) samples.emplace(s.type, s);
    ASSERT_EQ(table.size(), samples.size());

    for (const Initial& row : table) {
        SCOPED_TRACE(row.type);
        ASSERT_TRUE(samples.count(row.type));
        Bytes actual = samples.at(row.type).make();
        Bytes expected(actual.size(), 0);
        for (const auto& [offset, bytes] : row.values) {
            ASSERT_LE(offset + bytes.size(), expected.size());
            std::copy(bytes.begin(), bytes.end(), expected.begin() + offset);
        }
        // The header is covered above; origin is the sender's to fill.
        std::vector<std::pair<int, int>> ignored = row.unset;
        ignored.push_back({0, 28});
        for (const auto& [offset, length] : ignored)
            for (int i = offset; i < offset + length; ++i) actual[i] = expected[i] = 0xA5;
        EXPECT_EQ(actual, expected);
    }
}

TEST(Records, LogInInitRestoresFieldsAndKeepsHeader) {
    UpdatePlayerStats stats;  // built on LogIn: init must keep the derived identifier and size
    LogIn login;
    for (LogIn* r : {static_cast<LogIn*>(&stats), &login}) {
        SCOPED_TRACE(int(r->getPacketID()));
        const Bytes freshLogIn = imageOf(LogIn());
        protocol::writeText(r->userName, "captain");
        protocol::writeText(r->password, "secret");
        r->version = 2.5f;
        r->reserved[0] = r->reserved[255] = 9;
        r->editionFlag = 1;
        r->target = FakeAddress(0x0100007F, 4000);
        r->timeStamp = 1234;
        r->transitTime = 7;
        const Bytes header(reinterpret_cast<uint8_t*>(r), reinterpret_cast<uint8_t*>(r) + 28);
        const uint8_t id = r->packetID;
        const int size = r->size;

        r->init();

        const Bytes after = imageOf(*r);
        EXPECT_EQ(Bytes(after.begin(), after.begin() + 28), header);
        EXPECT_EQ(Bytes(after.begin() + 28, after.begin() + 339), Bytes(freshLogIn.begin() + 28, freshLogIn.end()));
        EXPECT_EQ(r->packetID, id);
        EXPECT_EQ(int(r->size), size);  // copied out: a packed member must not bind to a reference
    }
}

// Assignment copies every byte of the source except the padding of address fields, where the
// destination keeps what it held.
template <class R>
void checkAssignment(const std::vector<int>& addressOffsets) {
    alignas(8) uint8_t source[sizeof(R)];
    for (size_t i = 0; i < sizeof(R); ++i) source[i] = uint8_t(i * 7 + 3);
    R from;
    std::memcpy(static_cast<void*>(&from), source, sizeof(R));
    R to;
    Bytes before = imageOf(to);
    std::vector<int> padding;
    for (int offset : std::vector<int>{10, 18}) padding.push_back(offset + 6);
    for (int offset : addressOffsets) padding.push_back(offset + 6);
    for (int p : padding) {
        reinterpret_cast<uint8_t*>(&to)[p] = 0xEE;
        reinterpret_cast<uint8_t*>(&to)[p + 1] = 0xDD;
    }

    R& result = (to = from);

    EXPECT_EQ(&result, &to);
    Bytes expected(source, source + sizeof(R));
    for (int p : padding) {
        expected[p] = 0xEE;
        expected[p + 1] = 0xDD;
    }
    EXPECT_EQ(imageOf(to), expected);
}

TEST(Records, AssignmentCopiesFieldsAndLeavesAddressPadding) {
    checkAssignment<Notifier>({});
    checkAssignment<LogIn>({});
    checkAssignment<VerifyLogin>({339, 347});
    checkAssignment<VerifyLoginResult>({28, 36});
    checkAssignment<GameType>({111});
    checkAssignment<ServerLink>({});
    checkAssignment<SlotInfo>({});
    checkAssignment<ConnectionStatus>({});
    checkAssignment<PlayerInfo>({57});
    checkAssignment<Chat>({});
    checkAssignment<Authentication>({232});
    checkAssignment<UpdateAccount>({});
    checkAssignment<UpdateInGame>({});
    checkAssignment<VersionUpdate>({796});
    checkAssignment<CheckForUpdate>({40, 48});
    checkAssignment<ShipInfo>({29});
    checkAssignment<Coordinates>({});
    checkAssignment<simplePosition>({});
    checkAssignment<Damagelevel>({});
    checkAssignment<CannonShot>({});
    checkAssignment<CannonTarget>({});
    checkAssignment<RespawnShip>({});
    checkAssignment<WeatherInfo>({});
    checkAssignment<BuoyInfo>({});
    checkAssignment<TeamScore>({});
    checkAssignment<UpdatePlayerStats>({339, 347});
    checkAssignment<VerifyStatsResult>({28, 36});
    checkAssignment<PirateResults>({339, 347});
    checkAssignment<PirateResultsReply>({28, 36});
}

TEST(Records, FullLengthNameHasNoTerminatorAndReadsBackWhole) {
    LogIn login;
    protocol::writeText(login.password, "pw");
    const std::string name(25, 'N');
    protocol::writeText(login.userName, name + "overflow");
    EXPECT_EQ(std::memcmp(login.userName, name.data(), 25), 0);
    EXPECT_EQ(protocol::readText(login.userName), name);
    EXPECT_EQ(protocol::readText(login.password), "pw");

    protocol::writeText(login.userName, "short");
    EXPECT_EQ(protocol::readText(login.userName), "short");
    EXPECT_EQ(login.userName[5], 0);
}

TEST(Records, WideTextStopsAtArrayEnd) {
    Chat chat;
    chat.chatTarget = 1;
    const std::u16string full(256, u'\u00e9');
    protocol::writeWideText(chat.message, 256, full + u"x");
    EXPECT_EQ(protocol::readWideText(chat.message, 256), full);
    EXPECT_EQ(chat.chatTarget, 1);
    protocol::writeWideText(chat.sender, 25, u"Ahab");
    EXPECT_EQ(protocol::readWideText(chat.sender, 25), u"Ahab");
}

}  // namespace
