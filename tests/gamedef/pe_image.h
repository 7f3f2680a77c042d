// Minimal reader of 32-bit PE images for inspecting covemark.dll: headers, sections, imports,
// exports and the resource tree. Every read is bounds-checked; a malformed image throws
// std::runtime_error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pe {

struct Section {
    std::string name;
    uint32_t virtualAddress = 0, virtualSize = 0, rawOffset = 0, rawSize = 0, characteristics = 0;
};

struct DataDirectory {
    uint32_t rva = 0, size = 0;
};

// Resource identifiers are written "#<number>" for numeric ids and as the plain text for names.
struct Resource {
    std::string type, name;
    uint16_t language = 0;
    uint32_t codepage = 0;
    std::vector<uint8_t> data;
};

struct Import {
    std::string dll;
    std::vector<std::string> functions;  // by name; ordinal imports as "#<ordinal>"
};

struct ExportCounts {
    uint32_t functions = 0, names = 0;
};

constexpr int kExportDirectory = 0, kImportDirectory = 1, kResourceDirectory = 2;
constexpr uint32_t kScnMemExecute = 0x20000000;

class Image {
public:
    explicit Image(std::vector<uint8_t> bytes);
    static Image load(const std::string& path);

    uint16_t machine() const { return machine_; }
    uint16_t characteristics() const { return characteristics_; }
    uint16_t optionalMagic() const { return magic_; }
    uint32_t entryPoint() const { return entryPoint_; }
    uint32_t imageBase() const { return imageBase_; }
    uint32_t timeDateStamp() const { return timeDateStamp_; }
    const std::vector<Section>& sections() const { return sections_; }
    DataDirectory directory(int index) const;

    // The section holding an RVA, if any.
    const Section* sectionAt(uint32_t rva) const;

    std::vector<Resource> resources() const;
    std::vector<Import> imports() const;
    // Nothing when the image has no export directory.
    std::optional<ExportCounts> exportCounts() const;

private:
    const uint8_t* at(uint32_t rva, uint32_t size) const;
    uint16_t u16(uint32_t rva) const;
    uint32_t u32(uint32_t rva) const;
    std::string cString(uint32_t rva) const;
    std::string resourceId(uint32_t base, uint32_t entry) const;

    std::vector<uint8_t> bytes_;
    uint16_t machine_ = 0, characteristics_ = 0, magic_ = 0;
    uint32_t entryPoint_ = 0, imageBase_ = 0, timeDateStamp_ = 0;
    std::vector<Section> sections_;
    std::vector<DataDirectory> directories_;
};

// Exact lookup by type, name and language, as the resource tree holds it.
const Resource* findResource(const std::vector<Resource>& all, const std::string& type, const std::string& name,
                             uint16_t language);

}  // namespace pe
