#include "server/config/data_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "server/config/engine_log.h"

namespace {

const char* const plainNamePatterns[] = {
    "options.txt",
    "keybinds.txt",
    "Data\\AI\\",
    "Data\\Effects\\",
    "Data\\Locales\\",
    "Data\\Missions\\",
    "Data\\Parts\\",
    "Data\\Scripts\\loadingscreens\\",
    "Data\\Scripts\\Terrainobjects\\",
    "Data\\Scripts\\Tutorials\\",
    "Data\\Scripts\\Units\\",
    "Data\\Scripts\\Weathertypes\\",
    "Data\\Units\\",
    "serverconfig.txt",
    "server_buoy_2.txt",
    "server_start_game1.txt",
    "passwords.txt",
    "game_configurations.txt",
};

void logError(const char* prefix, const char* name) {
    std::string message = prefix;
    message += name;
    EngineLog::instance().error(message.c_str());
}

}  // namespace

bool isCryptedName(const char* name) {
    std::string normalised = name ? name : "";
    for (char& c : normalised) {
        if (c == '/') c = '\\';
    }
    for (const char* pattern : plainNamePatterns) {
        if (normalised.find(pattern) != std::string::npos) return false;
    }
    return true;
}

DataFile::DataFile(const char* name) {
    if (!name) name = "";
    struct stat status;
    // Only regular files are read: a folder or a device under the name counts as missing.
    if (stat(name, &status) != 0 || !S_ISREG(status.st_mode)) {
        logError("Failed to load non crypted file: ", name);
        return;
    }
    FILE* file = fopen(name, "rb");
    if (!file) {
        logError("Failed to load non crypted file: ", name);
        return;
    }
    long length = -1;
    if (fseek(file, 0, SEEK_END) == 0) length = ftell(file);
    if (length < 0 || static_cast<unsigned long>(length) >= UINT32_MAX ||
        fseek(file, 0, SEEK_SET) != 0) {
        fclose(file);
        logError("Failed to load non crypted file: ", name);
        return;
    }
    text_.reset(new char[static_cast<size_t>(length) + 1]);
    // A file that shrank meanwhile keeps only the bytes actually read.
    size_ = static_cast<uint32_t>(fread(text_.get(), 1, static_cast<size_t>(length), file));
    fclose(file);
    text_[size_] = '\0';
    stream_.str(std::string(text_.get()));
}

DataFile::DataFile(const char* name, const std::string& contents) {
    if (!name) name = "";
    FILE* file = fopen(name, "wb");
    if (!file) {
        logError(isCryptedName(name) ? "Failed to create crypted file: "
                                     : "Failed to create noncrypted file: ",
                 name);
        return;
    }
    fwrite(contents.data(), 1, contents.size(), file);
    fclose(file);
}
