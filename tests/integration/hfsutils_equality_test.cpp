// Volumes made by hfsutils read by our engine exactly as hfsutils reads them
// (hls, hcopy -m), in the catalog's order with folders first.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "core/status.h"
#include "hfs/catalog_keys.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "support/engine_state.h"
#include "support/engine_tree.h"
#include "support/hfs_layout.h"
#include "support/hfsutils_driver.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSeed = 0x51A7C0DE;

Bytes RandomBytes(std::mt19937& rng, size_t size)
{
    Bytes out(size);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

Bytes Pascal(const std::string& s)
{
    Bytes p{static_cast<uint8_t>(s.size())};
    p.insert(p.end(), s.begin(), s.end());
    return p;
}

struct Oracle {
    std::string image;
    std::string label;
    HlsTree tree;
    RawVolume raw;                               // the image's catalog, parsed apart from the engine
    std::map<std::string, MacFileImage> files;  // by path, as hcopy -m writes them
    size_t filesPut = 0;                         // files the builder wrote (and left)
    std::vector<std::string> fragmentedPaths;    // files written into the holes of a full volume
    std::string error;                           // why the volume could not be made or read
};

MacFileImage MakeFile(const std::string& name, const std::string& type, const std::string& creator, uint16_t flags,
                      Bytes data, Bytes rsrc)
{
    MacFileImage f;
    f.name = name;
    f.type = type;
    f.creator = creator;
    f.finderFlags = flags;
    f.created = 0xB0000000;
    f.modified = 0xB1000000;
    f.data = std::move(data);
    f.rsrc = std::move(rsrc);
    return f;
}

#define BUILD_STEP(expr)                                \
    do {                                                \
        if (!(expr)) {                                  \
            o.error = #expr ": " + hfs.LastError();     \
            return false;                               \
        }                                               \
    } while (0)

bool BuildFloppy(Oracle& o, const TempDir& dir, std::mt19937& rng)
{
    HfsUtils hfs;
    o.label = "Equality Floppy";
    o.image = dir.PathOf("floppy.img");
    BUILD_STEP(hfs.Format(o.image, o.label, 1474560));

    std::vector<MacFileImage> root = {
        MakeFile("Read Me", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 3000), {}),
        MakeFile("Both Forks", "APPL", "QLNK", 0x2000, RandomBytes(rng, 5000), RandomBytes(rng, 7000)),
        MakeFile("Rsrc Only", "rsrc", "RSED", 0x0000, {}, RandomBytes(rng, 1234)),
        MakeFile("Empty", "????", "????", 0x0000, {}, {}),
        MakeFile("Hidden File", "INIT", "hide", 0x4000, RandomBytes(rng, 700), RandomBytes(rng, 90)),
        MakeFile("Caf\x8e", "TEXT", "\x8e\x8e\x8e\x8e", 0x0000, RandomBytes(rng, 513), {}),
        MakeFile("Abc", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 10), {}),
        MakeFile("\x80" "bc", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 11), {}),
        MakeFile("abd", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 12), {}),
        MakeFile("a", "MPS ", "MPS ", 0x0000, RandomBytes(rng, 1), {}),
        MakeFile("A1", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 511), RandomBytes(rng, 512)),
        MakeFile("`grave", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 512), {}),
        MakeFile("\xa5 bullet", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 100), {}),
        MakeFile("\xc9", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 100), {}),
        MakeFile("Trailing ", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 100), {}),
        MakeFile("A/B", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 100), {}),
        MakeFile("1234567890123456789012345678901", "TEXT", "ttxt", 0x0000, RandomBytes(rng, 100), {}),
    };
    BUILD_STEP(hfs.PutMacBinary(root, ":"));
    BUILD_STEP(hfs.Mkdir(":Hidden Folder"));
    BUILD_STEP(hfs.SetInvisible(":Hidden Folder", true));
    BUILD_STEP(hfs.PutMacBinary({MakeFile("Inside", "TEXT", "ttxt", 0, RandomBytes(rng, 64), {})}, ":Hidden Folder"));
    BUILD_STEP(hfs.Mkdir(":Level 1"));
    BUILD_STEP(hfs.Mkdir(":Level 1:Level 2"));
    BUILD_STEP(hfs.Mkdir(":Level 1:Level 2:Level 3"));
    BUILD_STEP(hfs.PutMacBinary({MakeFile("Deep File", "TEXT", "ttxt", 0, RandomBytes(rng, 2000), RandomBytes(rng, 3))},
                                ":Level 1:Level 2:Level 3"));
    BUILD_STEP(hfs.Mkdir(":Empty Folder"));
    BUILD_STEP(hfs.Mkdir(":Case"));
    BUILD_STEP(hfs.PutMacBinary({MakeFile("report", "TEXT", "ttxt", 0, RandomBytes(rng, 40), {})}, ":Case"));
    BUILD_STEP(hfs.Mkdir(":CASE2"));
    BUILD_STEP(hfs.PutMacBinary({MakeFile("REPORT", "TEXT", "ttxt", 0, RandomBytes(rng, 41), {})}, ":CASE2"));
    BUILD_STEP(hfs.Mkdir(":\x80rger"));
    BUILD_STEP(hfs.PutMacBinary({MakeFile("\x8a" "rger", "TEXT", "ttxt", 0, RandomBytes(rng, 42), {})}, ":\x80rger"));
    // A raw copy, so that hcopy's own type and creator appear too.
    const std::string rawFile = dir.WriteFile("plain.txt", RandomBytes(rng, 777));
    BUILD_STEP(hfs.PutRaw(rawFile, ":Plain Copy"));
    BUILD_STEP(hfs.SetTypeCreator(":Plain Copy", "TEXT", "R*ch"));

    // Fragmentation: small files, the rest of the volume taken by one file,
    // then every other small file deleted and large forks written.
    BUILD_STEP(hfs.Mkdir(":Fill"));
    std::vector<MacFileImage> small;
    for (int i = 0; i < 600; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d", i);
        small.push_back(MakeFile(name, "TEXT", "ttxt", 0, RandomBytes(rng, 100 + rng() % 400), {}));
    }
    BUILD_STEP(hfs.PutMacBinary(small, ":Fill"));
    const uint64_t freeBytes = hfs.FreeBytes();
    BUILD_STEP(freeBytes > 20 * 512);
    const std::string filler = dir.WriteFile("filler", Bytes(freeBytes - 16 * 512, 0x5A));
    BUILD_STEP(hfs.PutRaw(filler, ":Filler"));
    std::vector<std::string> odd;
    for (int i = 1; i < 600; i += 2) {
        char name[24];
        std::snprintf(name, sizeof name, ":Fill:f%03d", i);
        odd.push_back(name);
    }
    BUILD_STEP(hfs.Delete(odd));
    BUILD_STEP(hfs.Mkdir(":Frag"));
    BUILD_STEP(hfs.PutMacBinary({MakeFile("Frag Data", "BINA", "hDmp", 0, RandomBytes(rng, 60000), {}),
                                 MakeFile("Frag Both", "APPL", "FRAG", 0, RandomBytes(rng, 20000),
                                          RandomBytes(rng, 30000))},
                                ":Frag"));
    o.fragmentedPaths = {":Frag:Frag Data", ":Frag:Frag Both"};
    o.filesPut = root.size() + 6 + 300 + 1 + 2;
    return true;
}

// What hls and hcopy -m say, and the catalog as our own reader parses it.
bool ReadOracle(Oracle& o)
{
    HfsUtils hfs;
    o.raw = ParseRawVolume(ReadFileBytes(o.image));
    BUILD_STEP(o.raw.ok);
    BUILD_STEP(hfs.MountCopy(o.image) && hfs.List(&o.tree));
    for (const auto& [folder, entries] : o.tree) {
        std::vector<std::string> names;
        for (const HlsEntry& entry : entries)
            if (!entry.folder) names.push_back(entry.name);
        std::map<std::string, MacFileImage> files;
        BUILD_STEP(hfs.GetMacBinaryMany(folder, names, &files));
        for (auto& [name, file] : files) o.files[JoinMacPath(folder, name)] = std::move(file);
    }
    return true;
}

#undef BUILD_STEP

// Made the first time a test of this process asks for it (ctest runs every
// test in a process of its own).
Oracle& Floppy()
{
    static TempDir dir;
    static Oracle o;
    static bool made = false;
    if (!made) {
        made = true;
        std::mt19937 rng(kSeed);
        if (BuildFloppy(o, dir, rng)) ReadOracle(o);
    }
    return o;
}

class HfsutilsEqualityTest : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        ASSERT_EQ(Floppy().error, "") << "seed " << kSeed;
        CurrentOptions.hideInvisible = false;
        ASSERT_TRUE(OpenImageAsMacDrive(Floppy().image.c_str(), false)) << "status " << StatusCode;
        ASSERT_EQ(MacPaneState.count, 1u);
        const MacItem* volume = MacPaneState.items[0];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(volume->name + 1), volume->name[0]), Floppy().label);
        ASSERT_TRUE(OpenListedVolume(0)) << "status " << StatusCode;
    }
};

// The whole tree through the pane, against hls and the catalog's order; then
// every file's Finder information and forks, against hcopy -m.
TEST_F(HfsutilsEqualityTest, FloppyVolumeReadsAsHfsutilsReadsIt)
{
    const Oracle& o = Floppy();
    EngineTree tree;
    ASSERT_TRUE(ListEngineTree(&tree)) << "status " << StatusCode;
    size_t files = 0;
    std::set<std::string> ours, theirs;
    for (const auto& [path, folder] : tree) ours.insert(path);
    std::map<std::string, uint32_t> folderIds{{":", kRootFolderId}};
    for (const auto& [path, entries] : o.tree) {
        theirs.insert(path);
        for (const HlsEntry& e : entries) {
            files += !e.folder;
            if (e.folder) folderIds[JoinMacPath(path, e.name)] = e.cnid;
        }
    }
    EXPECT_EQ(files, o.filesPut) << "hfsutils lost or merged files while building";
    ASSERT_EQ(ours, theirs);

    for (const auto& [path, entries] : o.tree) {
        SCOPED_TRACE("folder " + Printable(path));
        const EngineFolder& folder = tree.at(path);
        ASSERT_EQ(folder.id, folderIds.at(path));
        const auto rawChildren = o.raw.children.find(folder.id);
        std::vector<RawCatalogChild> order;
        if (rawChildren != o.raw.children.end()) order = rawChildren->second;
        std::stable_partition(order.begin(), order.end(), [](const RawCatalogChild& c) { return c.recordType == 1; });
        std::map<std::string, const HlsEntry*> byName;
        for (const HlsEntry& e : entries) byName[e.name] = &e;
        ASSERT_EQ(folder.items.size(), entries.size());
        ASSERT_EQ(order.size(), entries.size());
        for (size_t i = 0; i < order.size(); ++i) {
            const EngineEntry& got = folder.items[i];
            SCOPED_TRACE("item " + std::to_string(i) + " " + Printable(order[i].name));
            ASSERT_EQ(Printable(got.name), Printable(order[i].name));
            ASSERT_EQ(byName.count(got.name), 1u) << "hls does not list it";
            const HlsEntry& want = *byName.at(got.name);
            EXPECT_EQ(got.folder, want.folder);
            EXPECT_EQ(got.id, want.cnid);
            EXPECT_EQ(got.id, order[i].id);
            if (i > 0 && folder.items[i - 1].folder == got.folder) {
                EXPECT_LT(CompareMacNames(Pascal(folder.items[i - 1].name).data(), Pascal(got.name).data()), 0);
            }
            if (want.folder) {
                EXPECT_EQ(got.valence, want.valence);
                continue;
            }
            EXPECT_EQ(got.dataLength, want.dataLength);
            EXPECT_EQ(got.rsrcLength, want.rsrcLength);
            const MacFileImage& mb = o.files.at(JoinMacPath(path, want.name));
            EXPECT_EQ(Printable(got.type + got.creator), Printable(mb.type + mb.creator));
            EXPECT_EQ(got.finderFlags, mb.finderFlags);
            Bytes data, rsrc;
            ASSERT_TRUE(ReadEngineFork(folder.id, got.name, kDataFork, &data)) << "status " << StatusCode;
            ASSERT_TRUE(ReadEngineFork(folder.id, got.name, kResourceFork, &rsrc)) << "status " << StatusCode;
            EXPECT_TRUE(data == mb.data) << "data fork differs (" << data.size() << " vs " << mb.data.size() << ")";
            EXPECT_TRUE(rsrc == mb.rsrc) << "resource fork differs (" << rsrc.size() << " vs " << mb.rsrc.size() << ")";
        }
    }
    EXPECT_EQ(StatusCode, 0u);
    EXPECT_EQ(o.raw.allocBlockSize, 512u);
    unsigned fragmentedForks = 0;
    for (const std::string& path : o.fragmentedPaths) {
        const auto colon = path.rfind(':');
        for (const HlsEntry& e : o.tree.at(path.substr(0, colon)))
            for (uint8_t fork : {uint8_t{0x00}, uint8_t{0xFF}})
                fragmentedForks += e.name == path.substr(colon + 1) && o.raw.overflowRecords.count({e.cnid, fork});
    }
    EXPECT_EQ(fragmentedForks, 3u) << "the fragmented forks did not spill into the extents tree";
    EXPECT_GE(o.raw.extentsDepth, 2u) << "the extents tree has no index level";
    EXPECT_EQ(o.raw.overflowRecords.count({kCatalogFileId, uint8_t{0}}), 1u);
}

TEST_F(HfsutilsEqualityTest, NamesDifferingByCaseResolveAsOnTheMac)
{
    // A path in other letter case still finds the file.
    for (const auto& [asked, stored, path] : std::vector<std::array<std::string, 3>>{
             {":case:REPORT", "Report", ":Case:report"}, {":case2:report", "report", ":CASE2:REPORT"}}) {
        MacPathTarget target;
        ASSERT_TRUE(ResolveMacPath(asked.c_str(), &target)) << asked;
        EXPECT_EQ(target.kind, kItemFile);
        EXPECT_EQ(target.id, Floppy().tree.at(path.substr(0, path.rfind(':'))).at(0).cnid);
        Bytes viaOtherCase;
        ASSERT_TRUE(ReadEngineFork(target.parentId, stored, kDataFork, &viaOtherCase));
        EXPECT_TRUE(viaOtherCase == Floppy().files.at(path).data) << asked;
    }
}

}  // namespace
