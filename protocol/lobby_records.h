// Lobby, session and master-server records: default constructors set the initial values,
// assignment copies every field but address padding. Field comments give byte offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/base_command.h"
#include "protocol/export.h"

// Offsets of fields in records derived from BaseCommand are checked with offsetof, which GCC
// and Clang evaluate for non-virtual single inheritance; only the warning is silenced.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace KSTMP {

#pragma pack(push, 1)

// General small message: a notifier code and its parameter.
struct KSTMP_API Notifier : BaseCommand {
    int32_t code;                       // 28
    int32_t param;                      // 32

    Notifier();
    Notifier(const Notifier&) = default;
    Notifier& operator=(const Notifier& o);
};
static_assert(sizeof(Notifier) == 36);
static_assert(offsetof(Notifier, code) == 28);
static_assert(offsetof(Notifier, param) == 32);

// A client's login; also the first part of VerifyLogin, UpdatePlayerStats and PirateResults.
struct KSTMP_API LogIn : BaseCommand {
    char userName[25];                  // 28
    char password[25];                  // 53
    float version;                      // 78
    uint8_t reserved[256];              // 82
    uint8_t editionFlag;                // 338

    LogIn();
    LogIn(const LogIn&) = default;
    LogIn& operator=(const LogIn& o);
    LogIn(cmd_types id, int size);
    // Puts the login fields back to their initial values; the header stays.
    void init();
};
static_assert(sizeof(LogIn) == 339);
static_assert(offsetof(LogIn, userName) == 28);
static_assert(offsetof(LogIn, password) == 53);
static_assert(offsetof(LogIn, version) == 78);
static_assert(offsetof(LogIn, reserved) == 82);
static_assert(offsetof(LogIn, editionFlag) == 338);

// Login check sent to the master server.
struct KSTMP_API VerifyLogin : LogIn {
    FakeAddress server;                 // 339
    FakeAddress player;                 // 347
    uint8_t verifyFlag;                 // 355

    VerifyLogin();
    VerifyLogin(const VerifyLogin&) = default;
    VerifyLogin& operator=(const VerifyLogin& o);
};
static_assert(sizeof(VerifyLogin) == 356);
static_assert(offsetof(VerifyLogin, server) == 339);
static_assert(offsetof(VerifyLogin, player) == 347);
static_assert(offsetof(VerifyLogin, verifyFlag) == 355);

// The master server's login verdict for `player`.
struct KSTMP_API VerifyLoginResult : BaseCommand {
    FakeAddress server;                 // 28
    FakeAddress player;                 // 36
    uint8_t success;                    // 44

    VerifyLoginResult();
    VerifyLoginResult(const VerifyLoginResult&) = default;
    VerifyLoginResult& operator=(const VerifyLoginResult& o);
};
static_assert(sizeof(VerifyLoginResult) == 45);
static_assert(offsetof(VerifyLoginResult, server) == 28);
static_assert(offsetof(VerifyLoginResult, player) == 36);
static_assert(offsetof(VerifyLoginResult, success) == 44);

// A game server's description of itself and its battle.
struct KSTMP_API GameType : BaseCommand {
    char name[25];                      // 28
    char serverName[25];                // 53
    uint8_t openServer;                 // 78
    uint8_t playerCount;                // 79
    uint8_t freeSlots;                  // 80
    uint8_t maxShipsPerPlayer;          // 81
    uint8_t yourReservedSlots;          // 82
    uint8_t reservedSlots;              // 83
    uint32_t gameType;                  // 84
    uint8_t timeOfDay;                  // 88
    uint8_t weather;                    // 89
    uint16_t heading;                   // 90
    uint8_t gameLength;                 // 92
    uint16_t countdown;                 // 93
    uint8_t availableShips[11];         // 95
    uint8_t spare;                      // 106
    uint32_t phase;                     // 107
    FakeAddress serverAddress;          // 111
    uint8_t dcAllowed;                  // 119
    uint8_t rtsAllowed;                 // 120
    uint8_t countdownRunning;           // 121
    uint32_t realism;                   // 122
    float requiredVersion;              // 126

    GameType();
    GameType(const GameType&) = default;
    GameType& operator=(const GameType& o);
};
static_assert(sizeof(GameType) == 130);
static_assert(offsetof(GameType, name) == 28);
static_assert(offsetof(GameType, serverName) == 53);
static_assert(offsetof(GameType, openServer) == 78);
static_assert(offsetof(GameType, playerCount) == 79);
static_assert(offsetof(GameType, freeSlots) == 80);
static_assert(offsetof(GameType, maxShipsPerPlayer) == 81);
static_assert(offsetof(GameType, yourReservedSlots) == 82);
static_assert(offsetof(GameType, reservedSlots) == 83);
static_assert(offsetof(GameType, gameType) == 84);
static_assert(offsetof(GameType, timeOfDay) == 88);
static_assert(offsetof(GameType, weather) == 89);
static_assert(offsetof(GameType, heading) == 90);
static_assert(offsetof(GameType, gameLength) == 92);
static_assert(offsetof(GameType, countdown) == 93);
static_assert(offsetof(GameType, availableShips) == 95);
static_assert(offsetof(GameType, spare) == 106);
static_assert(offsetof(GameType, phase) == 107);
static_assert(offsetof(GameType, serverAddress) == 111);
static_assert(offsetof(GameType, dcAllowed) == 119);
static_assert(offsetof(GameType, rtsAllowed) == 120);
static_assert(offsetof(GameType, countdownRunning) == 121);
static_assert(offsetof(GameType, realism) == 122);
static_assert(offsetof(GameType, requiredVersion) == 126);

// Pointer to another game server.
struct KSTMP_API ServerLink : BaseCommand {
    uint16_t port;                      // 28
    char ip[25];                        // 30
    char linkName[25];                  // 55

    ServerLink();
    ServerLink(const ServerLink&) = default;
    ServerLink& operator=(const ServerLink& o);
};
static_assert(sizeof(ServerLink) == 80);
static_assert(offsetof(ServerLink, port) == 28);
static_assert(offsetof(ServerLink, ip) == 30);
static_assert(offsetof(ServerLink, linkName) == 55);

// Ship slot reservation request, or the server's slot figures.
struct KSTMP_API SlotInfo : BaseCommand {
    int8_t playerSlots;                 // 28
    int8_t reservedSlots;               // 29
    int8_t freeSlots;                   // 30

    SlotInfo();
    SlotInfo(const SlotInfo&) = default;
    SlotInfo& operator=(const SlotInfo& o);
};
static_assert(sizeof(SlotInfo) == 31);
static_assert(offsetof(SlotInfo, playerSlots) == 28);
static_assert(offsetof(SlotInfo, reservedSlots) == 29);
static_assert(offsetof(SlotInfo, freeSlots) == 30);

// The server's session phase announcement.
struct KSTMP_API ConnectionStatus : BaseCommand {
    uint32_t phase;                     // 28

    ConnectionStatus();
    ConnectionStatus(const ConnectionStatus&) = default;
    ConnectionStatus& operator=(const ConnectionStatus& o);
};
static_assert(sizeof(ConnectionStatus) == 32);
static_assert(offsetof(ConnectionStatus, phase) == 28);

// One player's lobby entry.
struct KSTMP_API PlayerInfo : BaseCommand {
    char name[25];                      // 28
    uint32_t playerData;                // 53
    FakeAddress address;                // 57
    uint8_t joined;                     // 65
    uint32_t readyToInit;               // 66
    uint16_t team;                      // 70
    uint8_t playerFlags[5];             // 72

    PlayerInfo();
    PlayerInfo(const PlayerInfo&) = default;
    PlayerInfo& operator=(const PlayerInfo& o);
};
static_assert(sizeof(PlayerInfo) == 77);
static_assert(offsetof(PlayerInfo, name) == 28);
static_assert(offsetof(PlayerInfo, playerData) == 53);
static_assert(offsetof(PlayerInfo, address) == 57);
static_assert(offsetof(PlayerInfo, joined) == 65);
static_assert(offsetof(PlayerInfo, readyToInit) == 66);
static_assert(offsetof(PlayerInfo, team) == 70);
static_assert(offsetof(PlayerInfo, playerFlags) == 72);

// A chat line.
struct KSTMP_API Chat : BaseCommand {
    char16_t sender[25];                // 28
    char16_t message[256];              // 78
    uint8_t chatTarget;                 // 590
    uint8_t chatScope;                  // 591

    Chat();
    Chat(const Chat&) = default;
    Chat& operator=(const Chat& o);
};
static_assert(sizeof(Chat) == 592);
static_assert(offsetof(Chat, sender) == 28);
static_assert(offsetof(Chat, message) == 78);
static_assert(offsetof(Chat, chatTarget) == 590);
static_assert(offsetof(Chat, chatScope) == 591);

// Account record for the master server.
struct KSTMP_API Authentication : BaseCommand {
    char16_t accountName[25];           // 28
    char16_t accountField1[25];         // 78
    char16_t accountField2[25];         // 128
    char16_t accountField3[25];         // 178
    float accountValue;                 // 228
    FakeAddress accountAddress;         // 232
    uint8_t accountFlagA;               // 240
    uint8_t accountFlagB;               // 241

    Authentication();
    Authentication(const Authentication&) = default;
    Authentication& operator=(const Authentication& o);
};
static_assert(sizeof(Authentication) == 242);
static_assert(offsetof(Authentication, accountName) == 28);
static_assert(offsetof(Authentication, accountField1) == 78);
static_assert(offsetof(Authentication, accountField2) == 128);
static_assert(offsetof(Authentication, accountField3) == 178);
static_assert(offsetof(Authentication, accountValue) == 228);
static_assert(offsetof(Authentication, accountAddress) == 232);
static_assert(offsetof(Authentication, accountFlagA) == 240);
static_assert(offsetof(Authentication, accountFlagB) == 241);

// Account update for the master server.
struct KSTMP_API UpdateAccount : BaseCommand {
    char16_t accountText[75];           // 28
    float accountValues[7];             // 178

    UpdateAccount();
    UpdateAccount(const UpdateAccount&) = default;
    UpdateAccount& operator=(const UpdateAccount& o);
};
static_assert(sizeof(UpdateAccount) == 206);
static_assert(offsetof(UpdateAccount, accountText) == 28);
static_assert(offsetof(UpdateAccount, accountValues) == 178);

// In-game status for the master server.
struct KSTMP_API UpdateInGame : BaseCommand {
    char16_t statusText[75];            // 28
    uint8_t statusFlag;                 // 178

    UpdateInGame();
    UpdateInGame(const UpdateInGame&) = default;
    UpdateInGame& operator=(const UpdateInGame& o);
};
static_assert(sizeof(UpdateInGame) == 179);
static_assert(offsetof(UpdateInGame, statusText) == 28);
static_assert(offsetof(UpdateInGame, statusFlag) == 178);

// The master server's new-version notice for one player.
struct KSTMP_API VersionUpdate : BaseCommand {
    char narrowText[256];               // 28
    char16_t wideText[256];             // 284
    FakeAddress player;                 // 796

    VersionUpdate();
    VersionUpdate(const VersionUpdate&) = default;
    VersionUpdate& operator=(const VersionUpdate& o);
};
static_assert(sizeof(VersionUpdate) == 804);
static_assert(offsetof(VersionUpdate, narrowText) == 28);
static_assert(offsetof(VersionUpdate, wideText) == 284);
static_assert(offsetof(VersionUpdate, player) == 796);

// The game's question about a newer version.
struct KSTMP_API CheckForUpdate : BaseCommand {
    float version;                      // 28
    uint8_t checkBytes[8];              // 32
    FakeAddress checkAddressA;          // 40
    FakeAddress checkAddressB;          // 48

    CheckForUpdate();
    CheckForUpdate(const CheckForUpdate&) = default;
    CheckForUpdate& operator=(const CheckForUpdate& o);
};
static_assert(sizeof(CheckForUpdate) == 56);
static_assert(offsetof(CheckForUpdate, version) == 28);
static_assert(offsetof(CheckForUpdate, checkBytes) == 32);
static_assert(offsetof(CheckForUpdate, checkAddressA) == 40);
static_assert(offsetof(CheckForUpdate, checkAddressB) == 48);

#pragma pack(pop)

}  // namespace KSTMP

#pragma GCC diagnostic pop
