// Writes the seed corpus of fuzz_record_check: one well-formed record of each type that holds
// text (some texts filling their whole array), a few other records, and near misses; and, when
// a second folder is given, the seeds of fuzz_dispatch: short sequences of records from the
// two players (see fuzz_dispatch.cpp for the chunk layout).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/records.h"
#include "protocol/text.h"

namespace {

using namespace KSTMP;
using Bytes = std::vector<unsigned char>;

// The record's bytes, its origin zeroed: constructors leave it for the send operation, and the
// seeds should come out the same on every run.
template <class R>
Bytes bytesOf(const R& r) {
    const auto* p = reinterpret_cast<const unsigned char*>(&r);
    Bytes b(p, p + sizeof(R));
    std::memset(b.data() + offsetof(BaseCommand, origin), 0, sizeof(FakeAddress));
    return b;
}

bool writeSeed(const std::string& folder, const std::string& name, const Bytes& bytes) {
    const std::string path = folder + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// One chunk of a fuzz_dispatch input: control byte, length, packet.
enum Sender : uint8_t { one = 0, two = 1, stranger = 2 };
constexpr uint8_t passAfter(uint8_t quarterSeconds) { return static_cast<uint8_t>(4 | quarterSeconds << 3); }

void chunk(Bytes& out, uint8_t control, const Bytes& packet) {
    out.push_back(control);
    out.push_back(static_cast<unsigned char>(packet.size()));
    out.push_back(static_cast<unsigned char>(packet.size() >> 8));
    out.insert(out.end(), packet.begin(), packet.end());
}

Bytes notifier(int32_t code, int32_t param = 0) {
    Notifier n;
    n.code = code;
    n.param = param;
    return bytesOf(n);
}

bool writeDispatchSeeds(const std::string& folder) {
    std::vector<std::pair<std::string, Bytes>> seeds;
    Bytes b;

    ShipInfo ship;
    ship.shipIndex = 0;
    ship.shipClass = 2;
    protocol::writeText(ship.name, "Sloop");
    Coordinates coordinates;
    coordinates.shipIndex = 0;
    chunk(b, one, bytesOf(ship));
    chunk(b, two, bytesOf(ship));
    chunk(b, one, bytesOf(coordinates));
    chunk(b, passAfter(4), bytesOf(simplePosition()));
    seeds.emplace_back("ships_and_positions", b);

    b.clear();
    for (int32_t code : {ntf_ready_to_init, ntf_ready_to_spawn, ntf_ready_to_play}) {
        chunk(b, one, notifier(code));
        chunk(b, passAfter(2) | two, notifier(code));
    }
    seeds.emplace_back("ready_into_battle", b);

    b.clear();
    chunk(b, one, bytesOf(ship));
    chunk(b, two, bytesOf(ship));
    Damagelevel damage;
    damage.shipIndex = 0;
    damage.hull = 120;
    damage.attackerIndex = 1;
    damage.sunk = 1;
    chunk(b, passAfter(40) | two, bytesOf(damage));
    chunk(b, one, notifier(ntf_ship_lost_a, 0));
    seeds.emplace_back("damage_and_loss", b);

    b.clear();
    Chat chat;
    protocol::writeWideText(chat.sender, 25, u"player 2");
    protocol::writeWideText(chat.message, 256, u"hello");
    chunk(b, two, bytesOf(chat));
    LogIn login;
    protocol::writeText(login.userName, "captain");
    protocol::writeText(login.password, "secret");
    chunk(b, one, bytesOf(login));
    chunk(b, passAfter(1), notifier(ntf_login_result, 1));
    seeds.emplace_back("chat_and_login", b);

    b.clear();
    SlotInfo slots;
    slots.playerSlots = 3;
    chunk(b, one, bytesOf(slots));
    chunk(b, two, notifier(ntf_slot_query));
    chunk(b, one, notifier(ntf_team_id, 2));
    chunk(b, two, notifier(ntf_ship_list_request));
    chunk(b, one, notifier(ntf_buoys_request));
    chunk(b, passAfter(1), notifier(ntf_game_modes_request));
    seeds.emplace_back("lobby_requests", b);

    b.clear();
    BuoyInfo buoy;
    buoy.buoyId = 0;
    chunk(b, one, bytesOf(buoy));
    chunk(b, stranger, bytesOf(VersionUpdate()));
    chunk(b, stranger, bytesOf(VerifyLoginResult()));
    chunk(b, one, bytesOf(CannonTarget()));
    chunk(b, two, bytesOf(ConnectionStatus()));
    seeds.emplace_back("buoy_and_master_records", b);

    b.clear();
    PlayerInfo leaving;
    leaving.joined = 0;
    chunk(b, two, bytesOf(leaving));
    chunk(b, passAfter(8), Bytes{19});  // the transport's disconnection notice
    chunk(b, passAfter(8) | two, Bytes{20});  // connection lost
    seeds.emplace_back("players_leave", b);

    b.clear();
    Bytes shortShip = bytesOf(ship);
    shortShip.pop_back();
    chunk(b, one, shortShip);
    chunk(b, one, Bytes{25, 0, 0, 0, 0});
    chunk(b, two, Bytes{0});
    seeds.emplace_back("malformed", b);

    for (const auto& [name, bytes] : seeds) {
        if (!writeSeed(folder, name, bytes)) {
            std::perror(name.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_record_seeds <record check folder> [dispatch folder]\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::vector<std::pair<std::string, Bytes>> seeds;

    LogIn login;
    protocol::writeText(login.userName, "captain");
    protocol::writeText(login.password, "0123456789012345678901234");  // fills the array
    login.version = 1.5f;
    seeds.emplace_back("log_in", bytesOf(login));

    GameType game;
    protocol::writeText(game.name, "Harbour");
    protocol::writeText(game.serverName, "lan");
    game.heading = 90;  // not set by the constructor
    game.phase = 0;
    seeds.emplace_back("game_type", bytesOf(game));

    ServerLink link;
    link.port = 61116;
    protocol::writeText(link.ip, "127.0.0.1");
    protocol::writeText(link.linkName, "next");
    seeds.emplace_back("server_link", bytesOf(link));

    PlayerInfo player;
    protocol::writeText(player.name, "player one");
    seeds.emplace_back("player_info", bytesOf(player));

    ShipInfo ship;
    protocol::writeText(ship.name, "Sloop");
    seeds.emplace_back("ship_info", bytesOf(ship));

    Chat chat;
    protocol::writeWideText(chat.sender, 25, u"captain");
    protocol::writeWideText(chat.message, 256, u"ahoy \u00e9\u4e16");
    seeds.emplace_back("chat", bytesOf(chat));

    Authentication account;
    protocol::writeWideText(account.accountName, 25, u"aaaaaaaaaaaaaaaaaaaaaaaaa");  // full
    account.accountAddress = FakeAddress(0x0100007Fu, 61116);  // not set by the constructor
    seeds.emplace_back("authentication", bytesOf(account));

    VersionUpdate update;
    protocol::writeText(update.narrowText, "http://example.invalid/");
    protocol::writeWideText(update.wideText, 256, u"new version");
    seeds.emplace_back("version_update", bytesOf(update));

    Notifier notifier;
    notifier.code = 3;
    notifier.param = 1;
    seeds.emplace_back("notifier", bytesOf(notifier));

    seeds.emplace_back("coordinates", bytesOf(Coordinates()));

    // Near misses: one byte short, header size off by one, no time stamp marker.
    Bytes shortShip = bytesOf(ship);
    shortShip.pop_back();
    seeds.emplace_back("ship_info_short", shortShip);
    Bytes wrongSize = bytesOf(notifier);
    wrongSize[offsetof(BaseCommand, size)] += 1;
    seeds.emplace_back("notifier_size", wrongSize);
    seeds.emplace_back("transport_message", Bytes{16, 0, 0, 0});

    for (const auto& [name, bytes] : seeds) {
        if (!writeSeed(folder, name, bytes)) {
            std::perror(name.c_str());
            return 1;
        }
    }
    return argc == 3 && !writeDispatchSeeds(argv[2]) ? 1 : 0;
}
