#include "server/config/account_list.h"

#include "server/config/settings.h"

std::string lookupPassword(const std::string& dataDirectory, const std::string& userName) {
    Settings accounts;
    accounts.load(dataDirectory + "/passwords.txt");
    std::string password;
    accounts.getString("PassWords", userName, password);
    return password;
}
