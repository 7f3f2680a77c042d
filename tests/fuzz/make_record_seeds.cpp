// Writes the seed corpus of fuzz_record_check: one well-formed record of each type that holds
// text (some texts filling their whole array), a few other records, and near misses.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/records.h"
#include "protocol/text.h"

namespace {

using namespace KSTMP;
using Bytes = std::vector<unsigned char>;

template <class R>
Bytes bytesOf(const R& r) {
    const auto* p = reinterpret_cast<const unsigned char*>(&r);
    return Bytes(p, p + sizeof(R));
}

bool writeSeed(const std::string& folder, const std::string& name, const Bytes& bytes) {
    const std::string path = folder + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_record_seeds <folder>\n");
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
    return 0;
}
