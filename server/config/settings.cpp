#include "server/config/settings.h"

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <string_view>
#include <utility>

#include <boost/lexical_cast.hpp>

#include "server/config/data_file.h"
#include "server/config/engine_log.h"
#include "server/config/parser_group.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

size_t digitsFrom(std::string_view s, size_t at) {
    size_t end = at;
    while (end < s.size() && isDigit(s[end])) ++end;
    return end - at;
}

// Length of the decimal number at the start of `s` (optional sign, digits with an optional
// fraction, optional exponent); 0 when there is none.
size_t decimalLength(std::string_view s) {
    size_t at = 0;
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) ++at;
    const size_t whole = digitsFrom(s, at);
    at += whole;
    size_t fraction = 0;
    if (at < s.size() && s[at] == '.') {
        fraction = digitsFrom(s, at + 1);
        if (whole == 0 && fraction == 0) return 0;
        at += 1 + fraction;
    }
    if (whole == 0 && fraction == 0) return 0;
    if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
        size_t exponent = at + 1;
        if (exponent < s.size() && (s[exponent] == '+' || s[exponent] == '-')) ++exponent;
        const size_t digits = digitsFrom(s, exponent);
        if (digits > 0) at = exponent + digits;
    }
    return at;
}

int32_t leadingInt(std::string_view s) {
    size_t at = 0;
    bool negative = false;
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) negative = s[at++] == '-';
    int64_t value = 0;
    const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : int64_t{INT32_MAX};
    for (; at < s.size() && isDigit(s[at]); ++at) {
        value = value * 10 + (s[at] - '0');
        if (value > limit) value = limit;  // clamp, keep scanning the digits
    }
    return static_cast<int32_t>(negative ? -value : value);
}

float clampToFloat(double value) {
    if (value > FLT_MAX) return FLT_MAX;
    if (value < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(value);
}

float leadingFloat(std::string_view s) {
    const size_t length = decimalLength(s);
    if (length == 0) return 0.0f;
    const std::string number(s.substr(0, length));
    return clampToFloat(strtod(number.c_str(), nullptr));
}

void logError(const char* format, const std::string& argument) {
    char message[512];
    snprintf(message, sizeof message, format, argument.c_str());
    EngineLog::instance().error(message);
}

}  // namespace

bool convertStrict(const std::string& text, float& out) {
    if (text.empty() || decimalLength(text) != text.size()) return false;
    try {
        out = boost::lexical_cast<float>(text);
        return true;
    } catch (const boost::bad_lexical_cast&) {
        return false;
    }
}

bool convertStrict(const std::string& text, int& out) {
    try {
        out = boost::lexical_cast<int>(text);
        return true;
    } catch (const boost::bad_lexical_cast&) {
        return false;
    }
}

bool convertStrict(const std::string& text, uint16_t& out) {
    // lexical_cast wraps a negative text into an unsigned type: refuse the sign here.
    if (!text.empty() && text[0] == '-') return false;
    try {
        // Read as a wider unsigned type: Boost's 16-bit reader multiplies in int and overflows
        // on a non-digit character ("1 2"). The accepted texts are the same.
        const unsigned value = boost::lexical_cast<unsigned>(text);
        if (value > UINT16_MAX) return false;
        out = static_cast<uint16_t>(value);
        return true;
    } catch (const boost::bad_lexical_cast&) {
        return false;
    }
}

SettingValue::SettingValue(const std::string& raw) : text(editor::trimLine(raw)) {
    const size_t comma = text.find(',');
    if (comma != std::string::npos && convertStrict(text.substr(0, comma), vector.x)) {
        const std::string rest = text.substr(comma + 1);
        const size_t second = rest.find(',');
        if (second != std::string::npos) {
            convertStrict(rest.substr(0, second), vector.y);
            convertStrict(rest.substr(second + 1), vector.z);
        }
    }
    std::string_view number = text;
    while (!number.empty()) {
        const char first = number[0];
        if (first == '+' || first == '-' || isDigit(first)) {
            intValue = leadingInt(number);
            floatValue = leadingFloat(number);
            break;
        }
        const size_t percent = number.find('%');
        if (percent == std::string_view::npos) break;
        number.remove_prefix(percent + 1);
    }
    boolValue = intValue != 0;
}

void Settings::load(const std::string& fileName) {
    DataFile file(fileName.c_str());
    std::istream& in = file.stream();
    if (in.fail()) {
        logError("Could not open settings file: %s", fileName);
        return;
    }
    editor::ParserGroup root;
    root.parse(in);
    // Depth first, children in name order, without recursion.
    std::vector<std::pair<const editor::ParserGroup*, std::string>> pending;
    const auto pushChildren = [&pending](const editor::ParserGroup& group, const std::string* path) {
        const auto& children = group.subgroups();
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            if (!it->second) continue;
            pending.emplace_back(it->second.get(), path ? *path + ":" + it->first : it->first);
        }
    };
    pushChildren(root, nullptr);
    while (!pending.empty()) {
        auto [group, path] = std::move(pending.back());
        pending.pop_back();
        Group& target = groups_[path];
        for (const auto& [key, text] : group->values()) target[key] = SettingValue(text);
        pushChildren(*group, &path);
    }
}

std::string Settings::toText() const {
    std::list<std::string> lines;
    std::map<std::string, std::list<std::string>::iterator> closing;
    for (const auto& [path, keys] : groups_) {
        size_t depth = 0;
        for (char c : path) depth += c == ':';
        const std::string indent(4 * depth, ' ');
        const size_t lastColon = path.rfind(':');
        const std::string name = lastColon == std::string::npos ? path : path.substr(lastColon + 1);
        auto insertAt = lines.end();
        if (lastColon != std::string::npos) {
            const std::string parent = path.substr(0, lastColon);
            auto written = closing.find(parent);
            if (written != closing.end()) {
                insertAt = written->second;
            } else {
                // Write the missing ancestors, outermost first, from the top of the text.
                insertAt = lines.begin();
                std::string accumulated;
                size_t start = 0;
                for (size_t k = 0; start <= parent.size(); ++k) {
                    size_t end = parent.find(':', start);
                    if (end == std::string::npos) end = parent.size();
                    const std::string component = parent.substr(start, end - start);
                    accumulated = k == 0 ? component : accumulated + ":" + component;
                    auto known = closing.find(accumulated);
                    if (known != closing.end()) {
                        insertAt = known->second;
                    } else {
                        const std::string ancestorIndent(4 * k, ' ');
                        lines.insert(insertAt, ancestorIndent + component);
                        lines.insert(insertAt, ancestorIndent + "{");
                        insertAt = lines.insert(insertAt, ancestorIndent + "}");
                        closing[accumulated] = insertAt;
                    }
                    start = end + 1;
                }
            }
        }
        lines.insert(insertAt, indent + name);
        lines.insert(insertAt, indent + "{");
        const auto close = lines.insert(insertAt, indent + "}");
        closing[path] = close;
        for (const auto& [key, value] : keys) {
            lines.insert(close, indent + "    " + key + " = " + value.text);
        }
    }
    std::string text;
    text.reserve(5000);
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void Settings::save(const std::string& fileName) const { DataFile(fileName.c_str(), toText()); }

const SettingValue* Settings::find(const std::string& group, const std::string& key) const {
    auto g = groups_.find(group);
    if (g == groups_.end()) return nullptr;
    auto k = g->second.find(key);
    return k == g->second.end() ? nullptr : &k->second;
}

bool Settings::getInt(const std::string& group, const std::string& key, int& out) const {
    const SettingValue* value = find(group, key);
    if (value) out = value->intValue;
    return value != nullptr;
}

bool Settings::getFloat(const std::string& group, const std::string& key, float& out) const {
    const SettingValue* value = find(group, key);
    if (value) out = value->floatValue;
    return value != nullptr;
}

bool Settings::getBool(const std::string& group, const std::string& key, bool& out) const {
    const SettingValue* value = find(group, key);
    if (value) out = value->boolValue;
    return value != nullptr;
}

bool Settings::getString(const std::string& group, const std::string& key,
                         std::string& out) const {
    const SettingValue* value = find(group, key);
    if (value) out = value->text;
    return value != nullptr;
}

bool Settings::getVector(const std::string& group, const std::string& key,
                         SettingVector& out) const {
    const SettingValue* value = find(group, key);
    if (value) out = value->vector;
    return value != nullptr;
}

void Settings::setInt(const std::string& group, const std::string& key, int value) {
    SettingValue stored;
    stored.text = std::to_string(value);
    stored.intValue = value;
    stored.boolValue = value != 0;
    stored.floatValue = static_cast<float>(value);
    groups_[group][key] = std::move(stored);
}

void Settings::setString(const std::string& group, const std::string& key,
                         const std::string& text) {
    SettingValue stored;
    stored.text = text;
    groups_[group][key] = std::move(stored);
}

void Settings::listKeys(const std::string& group, std::vector<std::string>& out) const {
    auto g = groups_.find(group);
    if (g == groups_.end()) return;
    for (const auto& entry : g->second) out.push_back(entry.first);
}

bool Settings::hasKey(const std::string& group, const std::string& key) const {
    return find(group, key) != nullptr;
}

bool Settings::removeKey(const std::string& group, const std::string& key) {
    auto g = groups_.find(group);
    return g != groups_.end() && g->second.erase(key) > 0;
}

void Settings::splitList(const std::string& text, std::vector<std::string>& out, char separator) {
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos;
         at = text.find(separator, start)) {
        out.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    if (start < text.size()) out.push_back(text.substr(start));
}
