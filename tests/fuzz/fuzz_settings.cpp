// Settings text: parse a buffer as a settings file, read every value back through the getters,
// then write the store and load it again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "server/config/parser_group.h"
#include "server/config/settings.h"
#include "tests/config/settings_flat.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void writeFile(const char* name, const uint8_t* data, size_t size) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Same names, values, bare lines and subgroups at every level.
bool sameTree(const editor::ParserGroup& a, const editor::ParserGroup& b) {
    std::vector<std::pair<const editor::ParserGroup*, const editor::ParserGroup*>> work{{&a, &b}};
    while (!work.empty()) {
        auto [x, y] = work.back();
        work.pop_back();
        if (x->values() != y->values() || x->bareLines() != y->bareLines()) return false;
        if (x->subgroups().size() != y->subgroups().size()) return false;
        auto i = x->subgroups().begin();
        auto j = y->subgroups().begin();
        for (; i != x->subgroups().end(); ++i, ++j) {
            if (i->first != j->first || !i->second != !j->second) return false;
            if (i->second) work.emplace_back(i->second.get(), j->second.get());
        }
    }
    return true;
}

void exerciseTree(const std::string& text) {
    std::istringstream in(text);
    editor::ParserGroup root;
    root.parse(in);

    FUZZ_CHECK(root.valueCount() == static_cast<int>(root.values().size()));
    for (int i = 0; i < root.valueCount(); ++i) {
        const std::string key = root.keyAt(i);
        FUZZ_CHECK(root.getValue(key) == root.values().at(key));
    }
    FUZZ_CHECK(root.keyAt(-1).empty() && root.keyAt(root.valueCount()).empty());
    FUZZ_CHECK(root.subgroupNameAt(root.subgroupCount()).empty());

    editor::ParserGroup copy(root);
    FUZZ_CHECK(sameTree(root, copy));
    // Assigning a group from inside its own tree must copy before it frees.
    if (root.subgroupCount() > 0) {
        const std::string name = root.subgroupNameAt(0);
        editor::ParserGroup expected(copy.getSubgroup(name));
        copy = copy.getSubgroup(name);
        FUZZ_CHECK(sameTree(copy, expected));
    }
}

void exerciseStore(const Settings& settings) {
    for (const auto& [path, keys] : settings.groups()) {
        std::vector<std::string> listed;
        settings.listKeys(path, listed);
        FUZZ_CHECK(listed.size() == keys.size());
        for (const std::string& key : listed) {
            const SettingValue& value = keys.at(key);
            int i = 0;
            float f = 0.0f;
            bool b = false;
            std::string s;
            SettingVector v;
            FUZZ_CHECK(settings.hasKey(path, key));
            FUZZ_CHECK(settings.getInt(path, key, i) && i == value.intValue);
            FUZZ_CHECK(settings.getFloat(path, key, f) && std::isfinite(f));
            FUZZ_CHECK(settings.getBool(path, key, b) && b == (i != 0));
            FUZZ_CHECK(settings.getString(path, key, s) && s == value.text);
            FUZZ_CHECK(settings.getVector(path, key, v));

            // Pieces joined again give the text back, less a trailing separator.
            std::vector<std::string> pieces;
            Settings::splitList(s, pieces, ',');
            std::string joined;
            for (size_t k = 0; k < pieces.size(); ++k) joined += (k ? "," : "") + pieces[k];
            if (!s.empty() && s.back() == ',') joined += ',';
            FUZZ_CHECK(joined == s);

            int strictInt = 7;
            uint16_t strictPort = 7;
            float strictFloat = 7.0f;
            if (!convertStrict(s, strictInt)) FUZZ_CHECK(strictInt == 7);
            if (!convertStrict(s, strictPort)) FUZZ_CHECK(strictPort == 7);
            if (convertStrict(s, strictFloat)) FUZZ_CHECK(!std::isnan(strictFloat));
        }
    }
    int untouched = 42;
    FUZZ_CHECK(!settings.getInt("\x01 no such group", "key", untouched) && untouched == 42);
}

// Printable ASCII without blanks at either end, without "//", and without the characters in
// `excluded`.
bool plain(const std::string& text, const char* excluded, bool mayBeEmpty) {
    if (text.empty()) return mayBeEmpty;
    if (text.front() == ' ' || text.back() == ' ' || text.find("//") != std::string::npos) return false;
    for (char c : text) {
        if (c < ' ' || c > '~' || std::strchr(excluded, c)) return false;
    }
    return true;
}

// Whether the writer's text can carry the store: names and keys without the format's own
// characters, values without control characters or "//". A value ending in "//" is kept by
// the reader but cut once written with CR LF line ends (the CR then follows the slashes), and
// a name that is empty or begins with a brace reads back as something else.
bool writable(const Settings& settings) {
    for (const auto& [path, keys] : settings.groups()) {
        size_t start = 0;
        for (size_t end = path.find(':'); ; end = path.find(':', start)) {
            if (!plain(path.substr(start, end == std::string::npos ? end : end - start), "{}:=", false)) return false;
            if (end == std::string::npos) break;
            start = end + 1;
        }
        for (const auto& [key, value] : keys) {
            if (!plain(key, "{}=", false) || !plain(value.text, "", true)) return false;
        }
    }
    return true;
}

// Files in the target's own temporary folder.
std::string inFile, outFile1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& dir = fuzz::tempFolder("pw-fuzz-settings");
    inFile = dir + "/in.txt";
    outFile1 = dir + "/out1.txt";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The loader reads up to the first zero byte; the tree parser sees the same text.
    exerciseTree(std::string(reinterpret_cast<const char*>(data), size).c_str());

    writeFile(inFile.c_str(), data, size);
    Settings first;
    first.load(inFile);
    exerciseStore(first);

    // Saving and loading again keeps every path, key and value text, for stores whose texts
    // the format can carry (see writable()).
    first.save(outFile1);
    Settings second;
    second.load(outFile1);
    exerciseStore(second);
    if (writable(first)) FUZZ_CHECK(flatten(second) == flatten(first));

    // Setters and removal on a loaded store.
    second.setInt("Fuzz:Group", "n", -5);
    second.setString("Fuzz:Group", "s", "a,b");
    int n = 0;
    FUZZ_CHECK(second.getInt("Fuzz:Group", "n", n) && n == -5);
    FUZZ_CHECK(second.removeKey("Fuzz:Group", "n") && !second.hasKey("Fuzz:Group", "n"));
    FUZZ_CHECK(!second.toText().empty());
    return 0;
}
