// The document tree of a settings text: groups with key/value pairs, subgroups and bare lines.
#pragma once

#include <istream>
#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

namespace editor {

// Blanks of the settings text: space, tab, CR and LF.
bool isBlank(char c);
// Cuts a "//" comment that has at least one character after it, then the blanks at both ends.
std::string trimLine(const std::string& line);
// The next line that is not empty after trimLine; false at the end of input.
bool readLine(std::istream& in, std::string& line);

class ParserGroup {
public:
    // Groups nested deeper than this (the root's children are at depth 1) are still matched
    // brace for brace, but their lines are dropped, so a hostile file cannot make the paths
    // of a store grow without bound.
    static constexpr int maxDepth = 32;

    ParserGroup() = default;
    // Deep copy: new subgroups with the same names and contents.
    ParserGroup(const ParserGroup& other);
    ParserGroup& operator=(const ParserGroup& other);
    // Frees the subtree without recursion, however deep it is.
    ~ParserGroup();

    // Reads lines into this group until its closing "}" line or the end of input.
    void parse(std::istream& in);

    int valueCount() const;
    // Empty text for an index out of range.
    std::string keyAt(int index) const;
    // Empty text when the key is absent.
    std::string getValue(const std::string& key) const;

    int subgroupCount() const;
    std::string subgroupNameAt(int index) const;
    // The child of that name, made empty and inserted when absent.
    ParserGroup& getSubgroup(const std::string& name);

    const std::map<std::string, std::string>& values() const { return values_; }
    const std::map<std::string, boost::shared_ptr<ParserGroup>>& subgroups() const {
        return subgroups_;
    }
    const std::vector<std::string>& bareLines() const { return bareLines_; }

private:
    void classify(const std::string& line);
    void copyFrom(const ParserGroup& other);
    void releaseSubgroups();

    std::map<std::string, std::string> values_;
    std::map<std::string, boost::shared_ptr<ParserGroup>> subgroups_;
    std::vector<std::string> bareLines_;
};

}  // namespace editor
