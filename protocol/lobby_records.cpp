#include <cstring>

#include "protocol/lobby_records.h"

namespace KSTMP {

Notifier::Notifier()
    : BaseCommand(cmd_notifier, 36),
      code(0),
      param(0) {}

Notifier& Notifier::operator=(const Notifier& o) {
    BaseCommand::operator=(o);
    code = o.code;
    param = o.param;
    return *this;
}

LogIn::LogIn() : LogIn(cmd_log_in, 339) {}

LogIn::LogIn(cmd_types id, int size) : BaseCommand(id, size) { init(); }

void LogIn::init() {
    std::memset(userName, 0, sizeof userName);
    std::memset(password, 0, sizeof password);
    version = 1.0f;
    std::memset(reserved, 0, sizeof reserved);
    editionFlag = 0;
}

LogIn& LogIn::operator=(const LogIn& o) {
    BaseCommand::operator=(o);
    std::memcpy(userName, o.userName, sizeof userName);
    std::memcpy(password, o.password, sizeof password);
    version = o.version;
    std::memcpy(reserved, o.reserved, sizeof reserved);
    editionFlag = o.editionFlag;
    return *this;
}

VerifyLogin::VerifyLogin()
    : LogIn(cmd_verify_login, 356),
      server(FakeAddress::unassigned()),
      player(FakeAddress::unassigned()),
      verifyFlag(0) {}

VerifyLogin& VerifyLogin::operator=(const VerifyLogin& o) {
    LogIn::operator=(o);
    server = o.server;
    player = o.player;
    verifyFlag = o.verifyFlag;
    return *this;
}

VerifyLoginResult::VerifyLoginResult()
    : BaseCommand(cmd_verify_login_result, 45),
      server(FakeAddress::unassigned()),
      player(FakeAddress::unassigned()),
      success(0) {}

VerifyLoginResult& VerifyLoginResult::operator=(const VerifyLoginResult& o) {
    BaseCommand::operator=(o);
    server = o.server;
    player = o.player;
    success = o.success;
    return *this;
}

GameType::GameType()
    : BaseCommand(cmd_game_type, 130),
      openServer(0),
      playerCount(0),
      freeSlots(0),
      maxShipsPerPlayer(0),
      yourReservedSlots(0),
      reservedSlots(0),
      gameType(0),
      timeOfDay(12),
      weather(1),
      gameLength(15),
      countdown(2),
      spare(0),
      serverAddress(FakeAddress::unassigned()),
      dcAllowed(1),
      rtsAllowed(1),
      countdownRunning(0),
      realism(1),
      requiredVersion(0.0f) {
    std::memset(name, 0, sizeof name);
    std::memset(serverName, 0, sizeof serverName);
    std::memset(availableShips, 0xFF, sizeof availableShips);
}

GameType& GameType::operator=(const GameType& o) {
    BaseCommand::operator=(o);
    std::memcpy(name, o.name, sizeof name);
    std::memcpy(serverName, o.serverName, sizeof serverName);
    openServer = o.openServer;
    playerCount = o.playerCount;
    freeSlots = o.freeSlots;
    maxShipsPerPlayer = o.maxShipsPerPlayer;
    yourReservedSlots = o.yourReservedSlots;
    reservedSlots = o.reservedSlots;
    gameType = o.gameType;
    timeOfDay = o.timeOfDay;
    weather = o.weather;
    heading = o.heading;
    gameLength = o.gameLength;
    countdown = o.countdown;
    std::memcpy(availableShips, o.availableShips, sizeof availableShips);
    spare = o.spare;
    phase = o.phase;
    serverAddress = o.serverAddress;
    dcAllowed = o.dcAllowed;
    rtsAllowed = o.rtsAllowed;
    countdownRunning = o.countdownRunning;
    realism = o.realism;
    requiredVersion = o.requiredVersion;
    return *this;
}

ServerLink::ServerLink()
    : BaseCommand(cmd_server_link, 80),
      port(0) {
    std::memset(ip, 0, sizeof ip);
    std::memset(linkName, 0, sizeof linkName);
}

ServerLink& ServerLink::operator=(const ServerLink& o) {
    BaseCommand::operator=(o);
    port = o.port;
    std::memcpy(ip, o.ip, sizeof ip);
    std::memcpy(linkName, o.linkName, sizeof linkName);
    return *this;
}

SlotInfo::SlotInfo()
    : BaseCommand(cmd_slot_info, 31),
      playerSlots(0),
      reservedSlots(0),
      freeSlots(0) {}

SlotInfo& SlotInfo::operator=(const SlotInfo& o) {
    BaseCommand::operator=(o);
    playerSlots = o.playerSlots;
    reservedSlots = o.reservedSlots;
    freeSlots = o.freeSlots;
    return *this;
}

ConnectionStatus::ConnectionStatus()
    : BaseCommand(cmd_connection_status, 32),
      phase(0) {}

ConnectionStatus& ConnectionStatus::operator=(const ConnectionStatus& o) {
    BaseCommand::operator=(o);
    phase = o.phase;
    return *this;
}

PlayerInfo::PlayerInfo()
    : BaseCommand(cmd_player_info, 77),
      playerData(0),
      joined(1),
      readyToInit(0),
      team(0) {
    std::memset(name, 0, sizeof name);
    std::memset(playerFlags, 0xFF, sizeof playerFlags);
}

PlayerInfo& PlayerInfo::operator=(const PlayerInfo& o) {
    BaseCommand::operator=(o);
    std::memcpy(name, o.name, sizeof name);
    playerData = o.playerData;
    address = o.address;
    joined = o.joined;
    readyToInit = o.readyToInit;
    team = o.team;
    std::memcpy(playerFlags, o.playerFlags, sizeof playerFlags);
    return *this;
}

Chat::Chat()
    : BaseCommand(cmd_chat, 592),
      chatTarget(255),
      chatScope(255) {
    std::memset(sender, 0, sizeof sender);
    std::memset(message, 0, sizeof message);
}

Chat& Chat::operator=(const Chat& o) {
    BaseCommand::operator=(o);
    std::memcpy(sender, o.sender, sizeof sender);
    std::memcpy(message, o.message, sizeof message);
    chatTarget = o.chatTarget;
    chatScope = o.chatScope;
    return *this;
}

Authentication::Authentication()
    : BaseCommand(cmd_authentication, 242),
      accountValue(0.0f),
      accountFlagA(0),
      accountFlagB(1) {
    std::memset(accountName, 0, sizeof accountName);
    std::memset(accountField1, 0, sizeof accountField1);
    std::memset(accountField2, 0, sizeof accountField2);
    std::memset(accountField3, 0, sizeof accountField3);
}

Authentication& Authentication::operator=(const Authentication& o) {
    BaseCommand::operator=(o);
    std::memcpy(accountName, o.accountName, sizeof accountName);
    std::memcpy(accountField1, o.accountField1, sizeof accountField1);
    std::memcpy(accountField2, o.accountField2, sizeof accountField2);
    std::memcpy(accountField3, o.accountField3, sizeof accountField3);
    accountValue = o.accountValue;
    accountAddress = o.accountAddress;
    accountFlagA = o.accountFlagA;
    accountFlagB = o.accountFlagB;
    return *this;
}

UpdateAccount::UpdateAccount()
    : BaseCommand(cmd_update_account, 206) {
    std::memset(accountText, 0, sizeof accountText);
    std::memset(accountValues, 0, sizeof accountValues);
}

UpdateAccount& UpdateAccount::operator=(const UpdateAccount& o) {
    BaseCommand::operator=(o);
    std::memcpy(accountText, o.accountText, sizeof accountText);
    std::memcpy(accountValues, o.accountValues, sizeof accountValues);
    return *this;
}

UpdateInGame::UpdateInGame()
    : BaseCommand(cmd_update_in_game, 179),
      statusFlag(0) {
    std::memset(statusText, 0, sizeof statusText);
}

UpdateInGame& UpdateInGame::operator=(const UpdateInGame& o) {
    BaseCommand::operator=(o);
    std::memcpy(statusText, o.statusText, sizeof statusText);
    statusFlag = o.statusFlag;
    return *this;
}

VersionUpdate::VersionUpdate()
    : BaseCommand(cmd_version_update, 804),
      player(FakeAddress::unassigned()) {
    std::memset(narrowText, 0, sizeof narrowText);
    std::memset(wideText, 0, sizeof wideText);
}

VersionUpdate& VersionUpdate::operator=(const VersionUpdate& o) {
    BaseCommand::operator=(o);
    std::memcpy(narrowText, o.narrowText, sizeof narrowText);
    std::memcpy(wideText, o.wideText, sizeof wideText);
    player = o.player;
    return *this;
}

CheckForUpdate::CheckForUpdate()
    : BaseCommand(cmd_check_for_update, 56),
      version(0.0f),
      checkAddressA(FakeAddress::unassigned()),
      checkAddressB(FakeAddress::unassigned()) {
    std::memset(checkBytes, 0, sizeof checkBytes);
}

CheckForUpdate& CheckForUpdate::operator=(const CheckForUpdate& o) {
    BaseCommand::operator=(o);
    version = o.version;
    std::memcpy(checkBytes, o.checkBytes, sizeof checkBytes);
    checkAddressA = o.checkAddressA;
    checkAddressB = o.checkAddressB;
    return *this;
}

}  // namespace KSTMP
