// The settings store: group path -> key -> typed value, loaded from and saved to settings text.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct SettingVector {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// A value with its readings, computed once when it is stored.
struct SettingValue {
    SettingValue() = default;
    // Reads `text` (trimmed like a settings line): the leading whole and decimal numbers
    // (after a '%' when the text does not start with one), and an "x,y,z" vector.
    explicit SettingValue(const std::string& text);

    std::string text;
    int32_t intValue = 0;  // clamped to the 32-bit range
    bool boolValue = false;
    float floatValue = 0.0f;  // clamped to the finite float range
    SettingVector vector;
};

// Strict conversions: the whole text must be one number with no blank or other character
// around it. False (and `out` untouched) otherwise.
bool convertStrict(const std::string& text, float& out);
bool convertStrict(const std::string& text, int& out);
bool convertStrict(const std::string& text, uint16_t& out);

class Settings {
public:
    using Group = std::map<std::string, SettingValue>;

    // Reads the file and merges its groups into the store; the later file wins per key.
    void load(const std::string& fileName);
    // Writes the whole store as settings text with CR LF line ends.
    void save(const std::string& fileName) const;
    // The text save() writes.
    std::string toText() const;

    // Getters leave `out` untouched and return false when the group or key is absent.
    bool getInt(const std::string& group, const std::string& key, int& out) const;
    bool getFloat(const std::string& group, const std::string& key, float& out) const;
    bool getBool(const std::string& group, const std::string& key, bool& out) const;
    bool getString(const std::string& group, const std::string& key, std::string& out) const;
    bool getVector(const std::string& group, const std::string& key, SettingVector& out) const;

    // Setters make the group and the key when absent; the value is not reparsed.
    void setInt(const std::string& group, const std::string& key, int value);
    void setString(const std::string& group, const std::string& key, const std::string& text);

    // Appends the group's keys in key order; nothing when the group is absent.
    void listKeys(const std::string& group, std::vector<std::string>& out) const;
    bool hasKey(const std::string& group, const std::string& key) const;
    bool removeKey(const std::string& group, const std::string& key);

    // Cuts at every separator; pieces are not trimmed, inner empty pieces stay, an empty
    // remainder at the end is dropped.
    static void splitList(const std::string& text, std::vector<std::string>& out, char separator);

    const std::map<std::string, Group>& groups() const { return groups_; }

private:
    const SettingValue* find(const std::string& group, const std::string& key) const;

    std::map<std::string, Group> groups_;
};
