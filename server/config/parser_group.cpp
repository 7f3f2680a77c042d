#include "server/config/parser_group.h"

#include <utility>

#include <boost/make_shared.hpp>

namespace editor {

namespace {

// Splits `text` at the first `separator`. The part before it, without trailing blanks, goes to
// `left` and the part after it, without leading blanks, to `right`; a part that is empty or
// all blank leaves its output as it was, and so does a missing separator.
void splitAt(const std::string& text, char separator, std::string& left, std::string& right) {
    const size_t at = text.find(separator);
    if (at == std::string::npos) return;
    size_t end = at;
    while (end > 0 && isBlank(text[end - 1])) --end;
    if (end > 0) left.assign(text, 0, end);
    size_t begin = at + 1;
    while (begin < text.size() && isBlank(text[begin])) ++begin;
    if (begin < text.size()) right.assign(text, begin, std::string::npos);
}

}  // namespace

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimLine(const std::string& line) {
    size_t start = 0;
    while (start < line.size() && isBlank(line[start])) ++start;
    size_t end = line.size();
    for (size_t i = 0; i + 2 < line.size(); ++i) {
        if (line[i] == '/' && line[i + 1] == '/') {
            end = i;
            break;
        }
    }
    while (end > start && isBlank(line[end - 1])) --end;
    if (start >= end) return std::string();
    return line.substr(start, end - start);
}

bool readLine(std::istream& in, std::string& line) {
    std::string raw;
    while (std::getline(in, raw)) {
        std::string trimmed = trimLine(raw);
        if (!trimmed.empty()) {
            line = std::move(trimmed);
            return true;
        }
    }
    return false;
}

ParserGroup::ParserGroup(const ParserGroup& other) { copyFrom(other); }

ParserGroup& ParserGroup::operator=(const ParserGroup& other) {
    if (this != &other) {
        // Copy first: `other` may live inside this tree.
        ParserGroup copy(other);
        std::swap(values_, copy.values_);
        std::swap(subgroups_, copy.subgroups_);
        std::swap(bareLines_, copy.bareLines_);
    }
    return *this;
}

ParserGroup::~ParserGroup() { releaseSubgroups(); }

void ParserGroup::releaseSubgroups() {
    // Detach the children of each group before it is freed, so no destructor recurses.
    std::vector<boost::shared_ptr<ParserGroup>> pending;
    for (auto& entry : subgroups_) pending.push_back(std::move(entry.second));
    subgroups_.clear();
    while (!pending.empty()) {
        boost::shared_ptr<ParserGroup> group = std::move(pending.back());
        pending.pop_back();
        if (group && group.use_count() == 1) {
            for (auto& entry : group->subgroups_) pending.push_back(std::move(entry.second));
            group->subgroups_.clear();
        }
    }
}

void ParserGroup::copyFrom(const ParserGroup& other) {
    std::vector<std::pair<const ParserGroup*, ParserGroup*>> work{{&other, this}};
    while (!work.empty()) {
        auto [source, target] = work.back();
        work.pop_back();
        target->values_ = source->values_;
        target->bareLines_ = source->bareLines_;
        for (const auto& [name, child] : source->subgroups_) {
            auto copy = boost::make_shared<ParserGroup>();
            target->subgroups_[name] = copy;
            if (child) work.emplace_back(child.get(), copy.get());
        }
    }
}

void ParserGroup::classify(const std::string& line) {
    if (line.empty() || line == "{" || line == "}") return;
    std::string key, value;
    splitAt(line, '=', key, value);
    if (!key.empty()) {
        values_[key] = value;
    } else {
        bareLines_.push_back(line);
    }
}

void ParserGroup::parse(std::istream& in) {
    // One frame per open group; `group` is null for groups nested beyond maxDepth, whose
    // lines are dropped while their braces are still matched.
    struct Frame {
        ParserGroup* group;
        std::string previous;
        int depth;
        bool started;
    };
    std::vector<Frame> open;
    open.push_back({this, std::string(), 0, false});
    std::string current;
    while (!open.empty()) {
        Frame& frame = open.back();
        if (!frame.started) {
            frame.started = true;
            if (!readLine(in, frame.previous) || frame.previous[0] == '}') open.pop_back();
            continue;
        }
        if (!readLine(in, current)) {
            if (frame.group) frame.group->classify(frame.previous);
            open.pop_back();
            continue;
        }
        if (current[0] == '{') {
            ParserGroup* child = nullptr;
            if (frame.group && frame.depth < maxDepth) {
                std::string name = frame.previous;
                std::string base;
                splitAt(frame.previous, ':', name, base);
                auto group = boost::make_shared<ParserGroup>();
                if (!base.empty()) {
                    auto found = frame.group->subgroups_.find(base);
                    if (found != frame.group->subgroups_.end() && found->second) {
                        group->copyFrom(*found->second);
                    }
                }
                // Stored now rather than after its body: nothing reads the enclosing
                // group's children while the body is parsed, so the result is the same.
                frame.group->subgroups_[name] = group;
                child = group.get();
            }
            frame.previous.clear();
            const int depth = frame.depth + 1;
            open.push_back({child, std::string(), depth, false});  // `frame` is stale now
            continue;
        }
        if (frame.group) frame.group->classify(frame.previous);
        if (current[0] == '}') {
            open.pop_back();
            continue;
        }
        frame.previous = std::move(current);
    }
}

int ParserGroup::valueCount() const { return static_cast<int>(values_.size()); }

std::string ParserGroup::keyAt(int index) const {
    if (index < 0 || index >= valueCount()) return std::string();
    return std::next(values_.begin(), index)->first;
}

std::string ParserGroup::getValue(const std::string& key) const {
    auto found = values_.find(key);
    return found == values_.end() ? std::string() : found->second;
}

int ParserGroup::subgroupCount() const { return static_cast<int>(subgroups_.size()); }

std::string ParserGroup::subgroupNameAt(int index) const {
    if (index < 0 || index >= subgroupCount()) return std::string();
    return std::next(subgroups_.begin(), index)->first;
}

ParserGroup& ParserGroup::getSubgroup(const std::string& name) {
    auto& slot = subgroups_[name];
    if (!slot) slot = boost::make_shared<ParserGroup>();
    return *slot;
}

}  // namespace editor
