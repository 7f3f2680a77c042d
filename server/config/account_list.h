// The account list passwords.txt: user names and their passwords in the group PassWords.
#pragma once

#include <string>

// The password stored for `userName` in `dataDirectory` + "/passwords.txt", read afresh at
// every call; an empty text when the file, the group or the name is missing.
std::string lookupPassword(const std::string& dataDirectory, const std::string& userName);
