#include "server/core/login.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/console.h"
#include "protocol/notifier_codes.h"
#include "protocol/records.h"
#include "protocol/text.h"
#include "server/config/account_list.h"
#include "server/config/server_settings.h"
#include "server/config/settings.h"
#include "server/core/lobby.h"
#include "server/core/send.h"
#include "server/core/server_globals.h"
#include "server/session/players.h"

using platform::consolePrint;

namespace {

bool needsEscape(unsigned char c, bool escapeDots) {
    if (c < 0x20 || c == 0x7F)
        return true;
    switch (c) {
    case '/':
    case '\\':
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
    case '%': return true;
    case '.': return escapeDots;
    default: return false;
    }
}

std::string loginStamp() {
    const platform::CalendarTime t = platform::localNow();
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d_%02d:%02d:%02d", t.month % 100, t.day % 100, t.year % 100,
                  t.hour % 100, t.minute % 100, t.second % 100);
    return text;
}

void sendVerdict(const SystemAddress& to, int verdict) {
    KSTMP::Notifier reply;
    reply.target.setFrom(to);
    reply.code = KSTMP::ntf_login_result;
    reply.param = verdict;
    sendRecord(&reply);
}

}  // namespace

std::string loginLogName(const std::string& userName) {
    if (userName.empty())
        return "%";
    const bool escapeDots = userName == "." || userName.find("..") != std::string::npos;
    std::string name;
    for (unsigned char c : userName) {
        if (needsEscape(c, escapeDots)) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            name += escaped;
        } else {
            name += static_cast<char>(c);
        }
    }
    return name;
}

void writeLoginLog(const std::string& userName, const SystemAddress& sender, bool success) {
    const std::string path = dataDirectory + "/logins/" + loginLogName(userName) + ".log";
    const std::string stamp = loginStamp();
    Settings store;
    store.load(path);
    std::vector<std::string> keys;
    store.listKeys("IPs", keys);
    const std::string entry = std::to_string(keys.size());
    store.setString("IPs", entry, addressText(sender));
    store.setString(success ? "Login_success" : "Login_failed", stamp, entry);
    store.save(path);
}

void handleLogIn(KSTMP::LogIn* record, const SystemAddress& sender) {
    const std::string userName = protocol::readText(record->userName);
    const std::string password = protocol::readText(record->password);
    consolePrint("Log in: %s\n", userName.c_str());
    const ServerSettings& settings = serverSettings;
    int verdict;
    if (record->editionFlag == 0) {
        if (static_cast<int>(players.size()) >= settings.playerLimit) {
            verdict = verdict_full;
            consolePrint("game is full\n");
        } else if (settings.password.empty()) {
            verdict = verdict_open;
        } else if (password == settings.password) {
            verdict = verdict_accepted;
            consolePrint("accepted\n");
        } else {
            verdict = verdict_declined;
            consolePrint("declined\n");
        }
    } else {
        consolePrint("login lumio version\n");
        const std::string stored = lookupPassword(dataDirectory, userName);
        const bool ok = !password.empty() && password == stored;
        verdict = ok ? verdict_accepted : verdict_declined;
        writeLoginLog(userName, sender, ok);
    }
    sendVerdict(sender, verdict);
    if (verdict == verdict_accepted)
        sendGameType(sender);
}

void handleVerifyLoginResult(KSTMP::VerifyLoginResult* record) {
    const bool success = record->success != 0;
    consolePrint(success ? "login success\n" : "login failed\n");
    sendVerdict(record->player.toSystemAddress(), success ? verdict_accepted : verdict_declined);
}
