// Reads the built covemark.dll back: resource table, game definition document, pictures,
// version block, PE headers, imports and exports, and a second build for byte equality.
#include "tests/gamedef/pe_image.h"
#include "tests/gamedef/version_block.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <tuple>

namespace fs = std::filesystem;
using boost::property_tree::ptree;

namespace {

constexpr uint16_t kNeutral = 1024, kGerman = 1031, kEnglish = 1033, kFrench = 1036, kRussian = 1049,
                   kFinnish = 1035;
const std::string kIcon = "#3", kGroupIcon = "#14", kVersion = "#16", kManifest = "#24";

const pe::Image& dll()
{
    static const pe::Image image = pe::Image::load(COVEMARK_DLL);
    return image;
}

const std::vector<pe::Resource>& resources()
{
    static const std::vector<pe::Resource> all = dll().resources();
    return all;
}

const std::vector<uint8_t>& resourceData(const std::string& type, const std::string& name, uint16_t language)
{
    const pe::Resource* r = pe::findResource(resources(), type, name, language);
    if (!r)
        throw std::runtime_error("missing resource " + type + "/" + name + "/" + std::to_string(language));
    return r->data;
}

std::string asText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(le16(p)) | uint32_t(le16(p + 2)) << 16; }

class TempDir {
public:
    TempDir()
    {
        static std::atomic<int> counter{0};
        path_ = fs::temp_directory_path() /
                ("covemark-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string shellQuote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a program to completion; its output goes to `log`. Returns the exit status (-1 if killed).
int run(const std::vector<std::string>& args, const fs::path& log)
{
    std::string command;
    for (const std::string& a : args)
        command += shellQuote(a) + " ";
    command += ">" + shellQuote(log.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

ptree parseXml(const std::string& text)
{
    std::istringstream in(text);
    ptree tree;
    boost::property_tree::read_xml(in, tree);
    return tree;
}

std::vector<std::string> childNames(const ptree& node)
{
    std::vector<std::string> names;
    for (const auto& [name, child] : node)
        if (name != "<xmlattr>" && name != "<xmlcomment>")
            names.push_back(name);
    return names;
}

TEST(CovemarkResources, DirectoryHoldsExactlyTheTableRows)
{
    using Row = std::tuple<std::string, std::string, uint16_t>;
    std::vector<Row> expected = {
        {"DATA", "__GDF_XML", kNeutral},      {"DATA", "__GDF_XML", kGerman},  {"DATA", "__GDF_XML", kEnglish},
        {"DATA", "__GDF_XML", kFrench},       {"DATA", "__GDF_XML", kRussian}, {"DATA", "__GDF_THUMBNAIL", kNeutral},
        {"DATA", "__GDF_THUMBNAIL", kEnglish}, {kIcon, "#1", kNeutral},        {kIcon, "#2", kEnglish},
        {kGroupIcon, "#101", kNeutral},       {kGroupIcon, "#101", kEnglish},  {kVersion, "#1", kFinnish},
        {kManifest, "#2", kEnglish},
    };
    std::vector<Row> actual;
    for (const pe::Resource& r : resources())
        actual.emplace_back(r.type, r.name, r.language);
    std::sort(expected.begin(), expected.end());
    std::sort(actual.begin(), actual.end());
    EXPECT_EQ(actual, expected);
}

TEST(CovemarkResources, AbsentLanguagesAreNotFound)
{
    struct Case {
        std::string type, name;
        uint16_t language;
    };
    const Case cases[] = {
        {"DATA", "__GDF_XML", 1034},          // Spanish
        {"DATA", "__GDF_XML", 0},             // language-neutral proper, not the default
        {"DATA", "__GDF_THUMBNAIL", kGerman},
        {kGroupIcon, "#101", kRussian},
        {kVersion, "#1", kEnglish},
        {kManifest, "#2", kNeutral},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pe::findResource(resources(), c.type, c.name, c.language), nullptr)
            << c.type << "/" << c.name << "/" << c.language;
}

TEST(CovemarkGdf, FiveLanguagesHoldOneDocument)
{
    const std::string english = asText(resourceData("DATA", "__GDF_XML", kEnglish));
    ASSERT_FALSE(english.empty());
    EXPECT_EQ(english.back(), '\n');
    for (uint16_t language : {kGerman, kFrench, kRussian})
        EXPECT_EQ(asText(resourceData("DATA", "__GDF_XML", language)), english) << language;
    const std::string neutral = asText(resourceData("DATA", "__GDF_XML", kNeutral));
    EXPECT_EQ(neutral + "\n", english);
    EXPECT_NE(neutral.back(), '\n');
    EXPECT_GT(english.size(), 2000u);
    EXPECT_LT(english.size(), 4000u);
}

TEST(CovemarkGdf, RootOrderAndFixedValues)
{
    const ptree doc = parseXml(asText(resourceData("DATA", "__GDF_XML", kEnglish)));
    ASSERT_EQ(childNames(doc), std::vector<std::string>{"GameDefinitionFile"});
    const ptree& root = doc.get_child("GameDefinitionFile");
    EXPECT_EQ(root.get<std::string>("<xmlattr>.xmlns"), "urn:schemas-microsoft-com:GameDescription.v1");
    EXPECT_EQ(root.get<std::string>("<xmlattr>.xmlns:baseTypes"), "urn:schemas-microsoft-com:GamesExplorerBaseTypes.v1");
    ASSERT_EQ(childNames(root), std::vector<std::string>{"GameDefinition"});

    const ptree& game = root.get_child("GameDefinition");
    EXPECT_TRUE(std::regex_match(game.get<std::string>("<xmlattr>.gameID"),
                                 std::regex(R"(\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\})")));
    const std::vector<std::string> order = {"Name",       "Description",
                                            "ReleaseDate", "Genres",
                                            "Ratings",    "Version",
                                            "SavedGames", "WindowsSystemPerformanceRating",
                                            "Developers", "Publishers",
                                            "GameExecutables", "ExtendedProperties"};
    EXPECT_EQ(childNames(game), order);

    const std::pair<std::string, std::string> fixed[] = {
        {"Genres.Genre", "Strategy / Action"},
        {"Ratings.Rating.<xmlattr>.ratingSystemID", "{768BD93D-63BE-46A9-8994-0B53C4B5248F}"},
        {"Ratings.Rating.<xmlattr>.ratingID", "{18CD34B7-7AA3-42b9-A303-5A729B2FF228}"},
        {"Ratings.Rating.Descriptor.<xmlattr>.descriptorID", "{F8635B3A-C121-480a-9090-31DAA90490D0}"},
        {"Version.VersionNumber.<xmlattr>.versionNumber", "1.0.0.7919"},
        {"SavedGames.<xmlattr>.baseKnownFolderID", "{fdd39ad0-238f-46af-adb4-6c85480369c7}"},
        {"SavedGames.<xmlattr>.path", "Korvane"},
        {"WindowsSystemPerformanceRating.<xmlattr>.minimum", "3.4"},
        {"WindowsSystemPerformanceRating.<xmlattr>.recommended", "4.5"},
        {"ExtendedProperties.GameTasks.Play.Primary.FileTask.<xmlattr>.path", "covemark.exe"},
        {"ExtendedProperties.GameTasks.Play.Primary.FileTask.<xmlattr>.arguments", ""},
        {"ExtendedProperties.GameTasks.Support", ""},
    };
    for (const auto& [path, value] : fixed)
        EXPECT_EQ(game.get_optional<std::string>(path), value) << path;

    // One element of each list, and the task list holds exactly Play and Support.
    for (const char* list : {"Genres", "Ratings", "Ratings.Rating", "Developers", "Publishers", "Version",
                             "ExtendedProperties", "ExtendedProperties.GameTasks.Play",
                             "ExtendedProperties.GameTasks.Play.Primary"})
        EXPECT_EQ(childNames(game.get_child(list)).size(), 1u) << list;
    EXPECT_EQ(childNames(game.get_child("ExtendedProperties.GameTasks")), (std::vector<std::string>{"Play", "Support"}));
    EXPECT_TRUE(game.get_child("ExtendedProperties.GameTasks.Support").empty());

    std::vector<std::string> executables;
    for (const auto& [name, exe] : game.get_child("GameExecutables")) {
        EXPECT_EQ(name, "GameExecutable");
        executables.push_back(exe.get<std::string>("<xmlattr>.path"));
    }
    EXPECT_EQ(executables, (std::vector<std::string>{"covemark.exe", "LAN\\portwarden.exe", "covemark.dll"}));

    // The product's own entries: present, dated, with paragraphs and web addresses.
    EXPECT_FALSE(game.get<std::string>("Name").empty());
    const std::string description = game.get<std::string>("Description");
    size_t paragraphs = 1;
    for (size_t at = description.find("\n\n"); at != std::string::npos; at = description.find("\n\n", at + 2))
        ++paragraphs;
    EXPECT_GE(paragraphs, 3u);
    EXPECT_TRUE(std::regex_match(game.get<std::string>("ReleaseDate"), std::regex(R"(\d{4}-\d{2}-\d{2})")));
    for (const char* who : {"Developers.Developer", "Publishers.Publisher"}) {
        EXPECT_FALSE(game.get<std::string>(who).empty()) << who;
        EXPECT_EQ(game.get<std::string>(std::string(who) + ".<xmlattr>.URI").rfind("https://", 0), 0u) << who;
    }
}

// The schema copies the published files with the two documented adjustments: the wrapper that
// imports both namespaces with locations, and the version pattern without its literal '^'.
fs::path prepareSchema(const fs::path& dir)
{
    for (const char* name : {"GDFSchema.v1.0.0.0.xsd", "gdf-wrapper.xsd"})
        fs::copy_file(fs::path(GDF_SCHEMA_DIR) / name, dir / name);
    std::string base = readFile(fs::path(GDF_SCHEMA_DIR) / "GamesExplorerBaseTypes.v1.0.0.0.xsd");
    const std::string from = "value=\"^(", to = "value=\"(";
    const size_t at = base.find(from);
    if (at == std::string::npos)
        throw std::runtime_error("version pattern not found in the base types schema");
    base.replace(at, from.size(), to);
    writeFile(dir / "GamesExplorerBaseTypes.v1.0.0.0.xsd", base);
    return dir / "gdf-wrapper.xsd";
}

TEST(CovemarkGdf, WellFormedAndValidAgainstPublishedSchema)
{
    if (std::string(XMLLINT_EXECUTABLE).empty())
        GTEST_SKIP() << "xmllint not installed (libxml2-utils)";
    TempDir tmp;
    const fs::path log = tmp.path() / "xmllint.log";
    for (uint16_t language : {kNeutral, kEnglish}) {
        const fs::path doc = tmp.path() / ("gdf-" + std::to_string(language) + ".xml");
        writeFile(doc, asText(resourceData("DATA", "__GDF_XML", language)));
        EXPECT_EQ(run({XMLLINT_EXECUTABLE, "--noout", doc.string()}, log), 0) << readFile(log);
    }
    if (!fs::is_directory(GDF_SCHEMA_DIR))
        GTEST_SKIP() << "GDF schema not found at " << GDF_SCHEMA_DIR;

    const fs::path wrapper = prepareSchema(tmp.path());
    for (uint16_t language : {kNeutral, kEnglish}) {
        const fs::path doc = tmp.path() / ("gdf-" + std::to_string(language) + ".xml");
        EXPECT_EQ(run({XMLLINT_EXECUTABLE, "--noout", "--schema", wrapper.string(), doc.string()}, log), 0)
            << readFile(log);
    }
    // Control: without the required Name the same validation must refuse the document.
    std::string broken = asText(resourceData("DATA", "__GDF_XML", kEnglish));
    const size_t begin = broken.find("<Name>"), end = broken.find("</Name>");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    broken.erase(begin, end + 7 - begin);
    writeFile(tmp.path() / "broken.xml", broken);
    EXPECT_NE(run({XMLLINT_EXECUTABLE, "--noout", "--schema", wrapper.string(), (tmp.path() / "broken.xml").string()}, log), 0);
}

TEST(CovemarkPictures, ThumbnailIs256SquareRgbPngInBothLanguages)
{
    const std::vector<uint8_t>& png = resourceData("DATA", "__GDF_THUMBNAIL", kNeutral);
    EXPECT_EQ(png, resourceData("DATA", "__GDF_THUMBNAIL", kEnglish));
    EXPECT_GT(png.size(), 65'000u);
    EXPECT_LT(png.size(), 95'000u);

    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GE(png.size(), 8u);
    ASSERT_TRUE(std::equal(signature, signature + 8, png.begin()));
    std::vector<std::string> chunks;
    std::vector<uint8_t> header, packed;
    for (size_t at = 8; at < png.size();) {
        ASSERT_LE(at + 12, png.size());
        const uint32_t length = be32(&png[at]);
        ASSERT_LE(at + 12 + length, png.size());
        const std::string type(png.begin() + long(at + 4), png.begin() + long(at + 8));
        const uint8_t* data = &png[at + 8];
        EXPECT_EQ(be32(data + length), uint32_t(crc32(0, &png[at + 4], length + 4))) << type;
        chunks.push_back(type);
        if (type == "IHDR")
            header.assign(data, data + length);
        if (type == "IDAT")
            packed.insert(packed.end(), data, data + length);
        at += 12 + length;
    }
    EXPECT_EQ(chunks.front(), "IHDR");
    EXPECT_EQ(chunks.back(), "IEND");
    ASSERT_EQ(header.size(), 13u);
    EXPECT_EQ(be32(&header[0]), 256u);
    EXPECT_EQ(be32(&header[4]), 256u);
    EXPECT_EQ(header[8], 8) << "bit depth";
    EXPECT_EQ(header[9], 2) << "colour type RGB";
    EXPECT_EQ(header[12], 0) << "interlace";

    // The picture data inflates to exactly 256 filtered rows of 256 RGB pixels.
    std::vector<uint8_t> rows(256 * (1 + 256 * 3) + 1);
    uLongf rowsSize = rows.size();
    ASSERT_EQ(uncompress(rows.data(), &rowsSize, packed.data(), uLong(packed.size())), Z_OK);
    ASSERT_EQ(rowsSize, 256u * (1 + 256 * 3));
    for (size_t y = 0; y < 256; ++y)
        ASSERT_LE(rows[y * (1 + 256 * 3)], 4) << "filter of row " << y;
}

TEST(CovemarkPictures, IconGroupsNameOne32BitIconEach)
{
    for (const auto& [language, iconName] : {std::pair{kNeutral, std::string("#1")}, std::pair{kEnglish, std::string("#2")}}) {
        SCOPED_TRACE(language);
        const std::vector<uint8_t>& group = resourceData(kGroupIcon, "#101", language);
        ASSERT_EQ(group.size(), 6u + 14u);
        EXPECT_EQ(le16(&group[0]), 0);
        EXPECT_EQ(le16(&group[2]), 1) << "icon, not cursor";
        EXPECT_EQ(le16(&group[4]), 1) << "one image";
        const uint8_t* entry = &group[6];
        EXPECT_EQ(entry[0], 32) << "width";
        EXPECT_EQ(entry[1], 32) << "height";
        EXPECT_EQ(le16(entry + 4), 1) << "planes";
        EXPECT_EQ(le16(entry + 6), 32) << "bits per pixel";
        EXPECT_EQ("#" + std::to_string(le16(entry + 12)), iconName);

        const std::vector<uint8_t>& icon = resourceData(kIcon, iconName, language);
        EXPECT_EQ(le32(entry + 8), icon.size());
        ASSERT_EQ(icon.size(), 40u + 32 * 32 * 4 + 32 * 4);
        EXPECT_EQ(le32(&icon[0]), 40u) << "bitmap header size";
        EXPECT_EQ(le32(&icon[4]), 32u) << "width";
        EXPECT_EQ(le32(&icon[8]), 64u) << "height of colour image and mask";
        EXPECT_EQ(le16(&icon[14]), 32) << "bits per pixel";
        EXPECT_EQ(le32(&icon[16]), 0u) << "uncompressed";
        // An emblem on a transparent ground: clear corners, opaque centre.
        const auto alpha = [&](int x, int y) { return icon[40 + ((31 - y) * 32 + x) * 4 + 3]; };
        EXPECT_EQ(alpha(0, 0), 0);
        EXPECT_EQ(alpha(31, 31), 0);
        EXPECT_EQ(alpha(16, 16), 255);
    }
    EXPECT_EQ(resourceData(kIcon, "#1", kNeutral), resourceData(kIcon, "#2", kEnglish));
}

TEST(CovemarkVersion, BlockReadsBack)
{
    const pe::VersionNode root = pe::parseVersionBlock(resourceData(kVersion, "#1", kFinnish));
    EXPECT_EQ(root.key, "VS_VERSION_INFO");
    const pe::FixedFileInfo fixed = pe::fixedFileInfo(root);
    EXPECT_EQ(fixed.signature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.fileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.fileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed.productVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.productVersionLS, 0x00000001u);
    EXPECT_EQ(fixed.fileOS, 4u) << "32-bit Windows";
    EXPECT_EQ(fixed.fileType, 2u) << "dynamic-link library";

    const pe::VersionNode* info = pe::versionChild(root, "StringFileInfo");
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->children.size(), 1u);
    const pe::VersionNode& table = info->children[0];
    EXPECT_EQ(table.key, "000004B0");
    std::map<std::string, std::string> strings;
    for (const pe::VersionNode& s : table.children)
        strings[s.key] = pe::versionText(s);
    const std::pair<std::string, std::string> expected[] = {
        {"FileDescription", "covemark Dynamic Link Library"},
        {"FileVersion", "1, 0, 0, 7793"},
        {"InternalName", "covemark"},
        {"OriginalFilename", "covemark.dll"},
        {"ProductName", "covemark Dynamic Link Library"},
        {"ProductVersion", "1, 0, 0, 7793"},
    };
    for (const auto& [key, value] : expected)
        EXPECT_EQ(strings[key], value) << key;
    for (const char* key : {"CompanyName", "LegalCopyright", "LegalTrademarks"})
        EXPECT_FALSE(strings[key].empty()) << key;
    EXPECT_EQ(strings.size(), 9u);

    const pe::VersionNode* vars = pe::versionChild(root, "VarFileInfo");
    ASSERT_NE(vars, nullptr);
    const pe::VersionNode* translation = pe::versionChild(*vars, "Translation");
    ASSERT_NE(translation, nullptr);
    ASSERT_EQ(translation->value.size(), 4u);
    EXPECT_EQ(le16(&translation->value[0]), 0x0000) << "language";
    EXPECT_EQ(le16(&translation->value[2]), 1200) << "code page";
}

TEST(CovemarkVersion, ManifestAsksForInvokerLevelWithoutUiAccess)
{
    const ptree doc = parseXml(asText(resourceData(kManifest, "#2", kEnglish)));
    const ptree& level = doc.get_child("assembly.trustInfo.security.requestedPrivileges.requestedExecutionLevel.<xmlattr>");
    EXPECT_EQ(level.get<std::string>("level"), "asInvoker");
    EXPECT_EQ(level.get<std::string>("uiAccess"), "false");
}

TEST(CovemarkImage, I386DllWithEntryPointOneImportAndNoExports)
{
    const pe::Image& image = dll();
    EXPECT_EQ(image.machine(), 0x14C) << "i386";
    EXPECT_NE(image.characteristics() & 0x2000, 0) << "DLL flag";
    EXPECT_EQ(image.imageBase(), 0x10000000u);
    EXPECT_EQ(image.timeDateStamp(), 0u);

    ASSERT_NE(image.entryPoint(), 0u);
    const pe::Section* code = image.sectionAt(image.entryPoint());
    ASSERT_NE(code, nullptr);
    EXPECT_NE(code->characteristics & pe::kScnMemExecute, 0u);
    EXPECT_EQ(std::count_if(image.sections().begin(), image.sections().end(),
                            [](const pe::Section& s) { return (s.characteristics & pe::kScnMemExecute) != 0; }),
              1);

    const std::optional<pe::ExportCounts> exports = image.exportCounts();
    if (exports) {
        EXPECT_EQ(exports->functions, 0u);
        EXPECT_EQ(exports->names, 0u);
    }

    const std::vector<pe::Import> imports = image.imports();
    ASSERT_EQ(imports.size(), 1u);
    std::string dllName = imports[0].dll;
    std::transform(dllName.begin(), dllName.end(), dllName.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    EXPECT_EQ(dllName, "kernel32.dll");
    EXPECT_EQ(imports[0].functions, std::vector<std::string>{"DisableThreadLibraryCalls"});
}

TEST(CovemarkBuild, SecondBuildGivesTheSameBytes)
{
    TempDir tmp;
    const fs::path log = tmp.path() / "build.log";
    ASSERT_EQ(run({CMAKE_EXECUTABLE, "-DOUTPUT_DIR=" + tmp.path().string(), "-P", COVEMARK_BUILD_SCRIPT}, log), 0)
        << readFile(log);
    const std::string again = readFile(tmp.path() / "covemark.dll");
    const std::string first = readFile(COVEMARK_DLL);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(again.size(), first.size());
    EXPECT_TRUE(again == first) << "the two builds differ";
}

}  // namespace
