// Login and admission of clients, the login logs, and the master server's login verdicts.
#pragma once

#include <string>

#include "net/system_address.h"

namespace KSTMP {
struct LogIn;
struct VerifyLoginResult;
}

enum login_verdict { verdict_open = 1, verdict_accepted = 2, verdict_declined = 3, verdict_full = 4 };

void handleLogIn(KSTMP::LogIn* record, const SystemAddress& sender);
void handleVerifyLoginResult(KSTMP::VerifyLoginResult* record);
// Appends one login to <dataDirectory>/logins/<name>.log (the folder is not created).
void writeLoginLog(const std::string& userName, const SystemAddress& sender, bool success);

// The file name (without ".log") under which a user's logins are kept. A user name that is a
// safe file name is used unchanged. Otherwise the bytes that are not safe are written as %XX
// (hex): control bytes, the path separators / and \, the characters < > : " | ? * that some
// file systems refuse, '%' itself, and every '.' of a name that contains ".." or is ".". An
// empty name becomes "%". The mapping is one-to-one, and the result never leaves the folder.
std::string loginLogName(const std::string& userName);
