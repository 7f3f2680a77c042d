#include "tests/gamedef/pe_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pe {
namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("PE image: " + what); }

}  // namespace

Image Image::load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("cannot open " + path);
    return Image(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

Image::Image(std::vector<uint8_t> bytes) : bytes_(std::move(bytes))
{
    auto raw = [this](size_t offset, size_t size) {
        if (offset > bytes_.size() || size > bytes_.size() - offset)
            fail("header runs past the end of the file");
        return bytes_.data() + offset;
    };
    if (std::memcmp(raw(0, 2), "MZ", 2) != 0)
        fail("no MZ signature");
    const uint32_t peOffset = le32(raw(0x3C, 4));
    if (std::memcmp(raw(peOffset, 4), "PE\0\0", 4) != 0)
        fail("no PE signature");
    const uint8_t* file = raw(peOffset + 4, 20);
    machine_ = le16(file);
    const uint16_t sectionCount = le16(file + 2);
    timeDateStamp_ = le32(file + 4);
    const uint16_t optionalSize = le16(file + 16);
    characteristics_ = le16(file + 18);

    const uint8_t* opt = raw(peOffset + 24, optionalSize);
    if (optionalSize < 96)
        fail("optional header too short");
    magic_ = le16(opt);
    if (magic_ != 0x10B)
        fail("not a PE32 image");
    entryPoint_ = le32(opt + 16);
    imageBase_ = le32(opt + 28);
    const uint32_t directoryCount = le32(opt + 92);
    if (96 + uint64_t(directoryCount) * 8 > optionalSize)
        fail("data directories run past the optional header");
    for (uint32_t i = 0; i < directoryCount; ++i)
        directories_.push_back({le32(opt + 96 + i * 8), le32(opt + 100 + i * 8)});

    const uint8_t* table = raw(peOffset + 24 + optionalSize, size_t(sectionCount) * 40);
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const uint8_t* s = table + i * 40;
        Section section;
        section.name.assign(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8));
        section.virtualSize = le32(s + 8);
        section.virtualAddress = le32(s + 12);
        section.rawSize = le32(s + 16);
        section.rawOffset = le32(s + 20);
        section.characteristics = le32(s + 36);
        raw(section.rawOffset, section.rawSize);
        sections_.push_back(section);
    }
}

DataDirectory Image::directory(int index) const
{
    return index >= 0 && size_t(index) < directories_.size() ? directories_[size_t(index)] : DataDirectory{};
}

const Section* Image::sectionAt(uint32_t rva) const
{
    for (const Section& s : sections_) {
        const uint32_t extent = std::max(s.virtualSize, s.rawSize);
        if (rva >= s.virtualAddress && rva - s.virtualAddress < extent)
            return &s;
    }
    return nullptr;
}

// Bytes of [rva, rva + size) from the file; the range must lie in one section's raw data.
const uint8_t* Image::at(uint32_t rva, uint32_t size) const
{
    const Section* s = sectionAt(rva);
    if (!s)
        fail("address outside every section");
    const uint32_t offset = rva - s->virtualAddress;
    if (offset > s->rawSize || size > s->rawSize - offset)
        fail("range runs past the section's data");
    return bytes_.data() + s->rawOffset + offset;
}

uint16_t Image::u16(uint32_t rva) const { return le16(at(rva, 2)); }
uint32_t Image::u32(uint32_t rva) const { return le32(at(rva, 4)); }

std::string Image::cString(uint32_t rva) const
{
    std::string text;
    for (;; ++rva) {
        const char c = char(*at(rva, 1));
        if (c == '\0')
            return text;
        text.push_back(c);
    }
}

std::string Image::resourceId(uint32_t base, uint32_t entry) const
{
    const uint32_t id = u32(entry);
    if (!(id & 0x80000000u))
        return "#" + std::to_string(id & 0xFFFF);
    // Named entry: a counted UTF-16 string inside the resource section; names here are ASCII.
    const uint32_t text = base + (id & 0x7FFFFFFFu);
    const uint16_t length = u16(text);
    std::string name;
    for (uint16_t i = 0; i < length; ++i) {
        const uint16_t ch = u16(text + 2 + i * 2u);
        name.push_back(ch < 0x80 ? char(ch) : '?');
    }
    return name;
}

std::vector<Resource> Image::resources() const
{
    std::vector<Resource> out;
    const DataDirectory dir = directory(kResourceDirectory);
    if (dir.rva == 0)
        return out;
    const uint32_t base = dir.rva;
    // Entries of one directory table: named entries first, then numeric ones.
    auto entries = [&](uint32_t table) {
        const uint32_t count = uint32_t(u16(table + 12)) + u16(table + 14);
        std::vector<uint32_t> list;
        for (uint32_t i = 0; i < count; ++i)
            list.push_back(table + 16 + i * 8);
        return list;
    };
    auto subdirectory = [&](uint32_t entry) {
        const uint32_t target = u32(entry + 4);
        if (!(target & 0x80000000u))
            fail("resource tree has a leaf where a directory belongs");
        return base + (target & 0x7FFFFFFFu);
    };
    for (uint32_t typeEntry : entries(base))
        for (uint32_t nameEntry : entries(subdirectory(typeEntry)))
            for (uint32_t langEntry : entries(subdirectory(nameEntry))) {
                const uint32_t target = u32(langEntry + 4);
                if (target & 0x80000000u)
                    fail("resource tree deeper than three levels");
                const uint32_t leaf = base + target;
                Resource r;
                r.type = resourceId(base, typeEntry);
                r.name = resourceId(base, nameEntry);
                const uint32_t lang = u32(langEntry);
                if (lang & 0x80000000u)
                    fail("named language entry");
                r.language = uint16_t(lang);
                const uint32_t dataRva = u32(leaf), dataSize = u32(leaf + 4);
                r.codepage = u32(leaf + 8);
                const uint8_t* data = at(dataRva, dataSize);
                r.data.assign(data, data + dataSize);
                out.push_back(std::move(r));
            }
    return out;
}

std::vector<Import> Image::imports() const
{
    std::vector<Import> out;
    const DataDirectory dir = directory(kImportDirectory);
    if (dir.rva == 0)
        return out;
    for (uint32_t desc = dir.rva;; desc += 20) {
        const uint32_t lookup = u32(desc), nameRva = u32(desc + 12), firstThunk = u32(desc + 16);
        if (lookup == 0 && nameRva == 0 && firstThunk == 0)
            break;
        Import imp;
        imp.dll = cString(nameRva);
        for (uint32_t thunk = lookup ? lookup : firstThunk;; thunk += 4) {
            const uint32_t value = u32(thunk);
            if (value == 0)
                break;
            if (value & 0x80000000u)
                imp.functions.push_back("#" + std::to_string(value & 0xFFFF));
            else
                imp.functions.push_back(cString(value + 2));  // skip the hint
        }
        out.push_back(std::move(imp));
    }
    return out;
}

std::optional<ExportCounts> Image::exportCounts() const
{
    const DataDirectory dir = directory(kExportDirectory);
    if (dir.rva == 0 && dir.size == 0)
        return std::nullopt;
    return ExportCounts{u32(dir.rva + 20), u32(dir.rva + 24)};
}

const Resource* findResource(const std::vector<Resource>& all, const std::string& type, const std::string& name,
                             uint16_t language)
{
    for (const Resource& r : all)
        if (r.type == type && r.name == name && r.language == language)
            return &r;
    return nullptr;
}

}  // namespace pe
