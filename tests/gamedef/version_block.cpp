#include "tests/gamedef/version_block.h"

#include <stdexcept>

namespace pe {
namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("version block: " + what); }

uint16_t le16(const std::vector<uint8_t>& d, size_t at)
{
    if (at + 2 > d.size())
        fail("read past the end");
    return uint16_t(d[at] | d[at + 1] << 8);
}

size_t align4(size_t at) { return (at + 3) & ~size_t(3); }

// One node at `at`, which must end by `limit`.
VersionNode parseNode(const std::vector<uint8_t>& d, size_t at, size_t limit)
{
    const size_t length = le16(d, at);
    const size_t valueLength = le16(d, at + 2);
    VersionNode node;
    node.type = le16(d, at + 4);
    const size_t end = at + length;
    if (length < 6 || end > limit)
        fail("node length out of range");
    size_t p = at + 6;
    for (;;) {
        const uint16_t ch = le16(d, p);
        p += 2;
        if (p > end)
            fail("key runs past the node");
        if (ch == 0)
            break;
        node.key.push_back(ch < 0x80 ? char(ch) : '?');
    }
    p = align4(p);
    const size_t valueBytes = node.type == 1 ? valueLength * 2 : valueLength;
    if (valueBytes > 0) {
        if (p + valueBytes > end)
            fail("value runs past the node");
        node.value.assign(d.begin() + long(p), d.begin() + long(p + valueBytes));
        p += valueBytes;
    }
    for (p = align4(p); p + 6 <= end; p = align4(p)) {
        node.children.push_back(parseNode(d, p, end));
        p += le16(d, p);
    }
    return node;
}

uint32_t le32(const std::vector<uint8_t>& d, size_t at)
{
    return uint32_t(le16(d, at)) | uint32_t(le16(d, at + 2)) << 16;
}

}  // namespace

VersionNode parseVersionBlock(const std::vector<uint8_t>& data) { return parseNode(data, 0, data.size()); }

std::string versionText(const VersionNode& node)
{
    std::string text;
    for (size_t i = 0; i + 1 < node.value.size(); i += 2) {
        const uint16_t ch = uint16_t(node.value[i] | node.value[i + 1] << 8);
        if (ch == 0)
            break;
        text.push_back(ch < 0x80 ? char(ch) : '?');
    }
    return text;
}

const VersionNode* versionChild(const VersionNode& node, const std::string& key)
{
    for (const VersionNode& c : node.children)
        if (c.key == key)
            return &c;
    return nullptr;
}

FixedFileInfo fixedFileInfo(const VersionNode& root)
{
    if (root.value.size() < 52)
        fail("fixed file information missing");
    const std::vector<uint8_t>& v = root.value;
    return {le32(v, 0),  le32(v, 4),  le32(v, 8),  le32(v, 12), le32(v, 16), le32(v, 20), le32(v, 24),
            le32(v, 28), le32(v, 32), le32(v, 36), le32(v, 40), le32(v, 44), le32(v, 48)};
}

}  // namespace pe
