// The Copy command both ways on hfsutils-made volumes, driven by a scripted
// window: each translator there and back, the filters, the taken-name
// answers deep in a tree, Cancel at every pump, deep trees, and links.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "hfs/listing.h"
#include "hfs/volume_check.h"
#include "support/hfsutils_driver.h"
#include "support/recording_window.h"
#include "support/temp_image.h"
#include "transfer/copy_walks.h"
#include "translate/registry.h"
#include "ui/copy_commands.h"
#include "ui/mac_session.h"
#include "ui/pc_pane.h"

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The volume: :top.txt, :A:a.txt (with a resource fork), :A:B:b.bin,
// :A:B:C:c.rsrc (resource fork only), :A:Empty.
std::vector<std::pair<std::string, MacFileImage>> TreeFiles()
{
    auto file = [](const char* name, const char* type, size_t data, size_t rsrc, uint32_t seed) {
        MacFileImage f;
        f.name = name;
        f.type = type;
        f.creator = "QLNK";
        // Letters and CRs: text every translator carries unchanged.
        f.data = PatternBytes(data, seed);
        for (size_t i = 0; i < f.data.size(); ++i) f.data[i] = i % 97 == 96 ? '\r' : 'a' + f.data[i] % 26;
        f.rsrc = PatternBytes(rsrc, seed + 100);
        return f;
    };
    return {{":", file("top.txt", "TEXT", 1000, 0, 1)},
            {":A:", file("a.txt", "TEXT", 40000, 300, 2)},
            {":A:B:", file("b.bin", "BINA", 70000, 0, 3)},
            {":A:B:C:", file("c.rsrc", "rsrc", 0, 5000, 4)}};
}

class TreeCopyTest : public DiskStateTest
{
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        SetWindowSystem(&ws); // the reset put the headless one back
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        image = dir.PathOf("v.img");
        ASSERT_TRUE(hfs.Format(image, "Trees", 8 << 20)) << hfs.LastError();
        for (const char* folder : {":A", ":A:B", ":A:B:C", ":A:Empty", ":Back"}) ASSERT_TRUE(hfs.Mkdir(folder));
        for (const auto& [folder, file] : TreeFiles()) ASSERT_TRUE(hfs.PutMacBinary({file}, folder)) << hfs.LastError();
        Prefs.MacCopyDir = Prefs.PCCopyDir = 1;
        RegisterAllTranslators();
    }

    void Open() { ASSERT_TRUE(OpenImageAsMacDrive(image.c_str(), true) && OpenListedVolume(0)) << StatusCode; }
    // Lists the Mac folder `path` and selects the items named.
    void SelectMac(const std::string& path, const std::vector<std::string>& names)
    {
        MacPathTarget folder;
        ASSERT_TRUE(ResolveMacPath(path.c_str(), &folder));
        ASSERT_TRUE(ShowMacFolder(folder));
        auto& list = ws.List(kIdMacList);
        list.items.clear();
        list.selected.clear();
        for (uint16_t i = 0; i < MacPaneState.count; ++i) {
            const MacItem& item = *MacPaneState.items[i];
            list.items.push_back(i);
            list.selected.push_back(std::find(names.begin(), names.end(), MacString(item.name)) != names.end());
        }
    }
    void SelectPc(const std::string& directory, const std::vector<std::string>& names)
    {
        PcDirectory = directory;
        PcItemList.clear();
        ASSERT_TRUE(ReadPcDirectory(directory.c_str(), &PcItemList));
        auto& list = ws.List(kIdPcFileList);
        list.items.clear();
        list.selected.clear();
        for (size_t i = 0; i < PcItemList.size(); ++i) {
            list.items.push_back(static_cast<intptr_t>(i));
            list.selected.push_back(std::find(names.begin(), names.end(), PcItemList[i].name) != names.end());
        }
    }
    void ExpectSound()
    {
        std::vector<std::string> problems;
        EXPECT_EQ(CheckVolume(&problems), 0) << (problems.empty() ? "" : problems[0]);
    }
    // Every file of the volume, hfsutils' view (its Mac path -> both forks).
    std::map<std::string, MacFileImage> MacTree()
    {
        CloseMacDrive();
        HlsTree tree;
        EXPECT_TRUE(hfs.Mount(image) && hfs.List(&tree)) << hfs.LastError();
        std::map<std::string, MacFileImage> out;
        for (const auto& [folder, entries] : tree) {
            std::vector<std::string> names;
            for (const HlsEntry& e : entries)
                if (!e.folder) names.push_back(e.name);
            std::map<std::string, MacFileImage> files;
            const std::string prefix = folder == ":" ? ":" : folder + ":";
            if (!names.empty()) {
                EXPECT_TRUE(hfs.GetMacBinaryMany(folder, names, &files)) << hfs.LastError();
            }
            for (auto& [name, file] : files) out[prefix + name] = file;
        }
        return out;
    }

    TempDir dir;
    TempDir pc;
    HfsUtils hfs;
    std::string image;
    RecordingWindowSystem ws;
};

// Each translator: the tree out to the PC and back into :Back, compared by
// the forks the translator carries (each translator's bytes are checked
// against hfsutils and macutils file by file elsewhere).
TEST_F(TreeCopyTest, EachTranslatorBothWays)
{
    struct Case {
        uint16_t translator;
        bool data, rsrc, codes;  // what the way back carries
    };
    const Case cases[] = {{kDataTranslator, true, false, false},
                          {kTextTranslator, true, false, false},
                          {kResourceTranslator, false, true, false},
                          {kMacBinaryTranslator, true, true, true},
                          {kBinHexTranslator, true, true, true}};
    const std::map<std::string, MacFileImage> before = MacTree();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.translator);
        const std::string out = pc.PathOf("out" + std::to_string(c.translator));
        fs::create_directory(out);
        Open();
        MacToPcIndex = PcToMacIndex = c.translator;
        SelectMac(":", {"A", "top.txt"});
        PcDirectory = out;
        ws.messages.clear();
        ASSERT_EQ(CopyMacToPc(MainWindow), 1) << (ws.messages.empty() ? "" : ws.messages[0].text);
        ASSERT_EQ(ws.messages.size(), 1u);  // the confirmation only
        EXPECT_EQ(ws.messages[0].caption, "Ready to copy from Mac to PC");
        CloseMacDrive();
        EXPECT_EQ(ReadFileTree(out).size(), 4u);
        // And back, under :Back:<translator>.
        ASSERT_TRUE(hfs.Mount(image) && hfs.Mkdir(":Back:T" + std::to_string(c.translator)));
        Open();
        SelectMac(":Back:T" + std::to_string(c.translator), {});
        SelectPc(out, {"A", "top.txt"});
        ASSERT_EQ(CopyPcToMac(MainWindow), 1);
        EXPECT_EQ(PcDirectory, out);
        ExpectSound();
        const auto after = MacTree();
        for (const auto& [path, file] : before) {
            if (path.rfind(":Back", 0) == 0) continue;
            const auto back = after.find(":Back:T" + std::to_string(c.translator) + path);
            ASSERT_NE(back, after.end()) << path;
            if (c.data) {
                EXPECT_EQ(back->second.data, file.data) << path;
            }
            if (c.rsrc) {
                EXPECT_EQ(back->second.rsrc, file.rsrc) << path;
            }
            if (c.codes) {
                EXPECT_EQ(back->second.type + back->second.creator, file.type + file.creator) << path;
            }
        }
        CloseMacDrive();
    }
}

TEST_F(TreeCopyTest, FiltersAtEveryLevel)
{
    struct Case {
        const char *type, *creator, *ext;
        std::vector<std::string> copied;
    };
    const Case cases[] = {{"TEXT", "", "", {"A/a.txt", "top.txt"}},
                          {"text", "qlnk", "", {"A/a.txt", "top.txt"}}, // case does not count
                          {"TEX", "", "", {}},                          // all four characters
                          {"", "", "BIN", {"A/B/b.bin"}},
                          {"BINA", "", "txt", {}}};
    Open();
    for (const Case& c : cases) {
        const std::string out = pc.PathOf(std::string("f") + c.type + c.ext);
        fs::create_directory(out);
        Prefs.MacCopyFilter = 1;
        std::strcpy(Prefs.MacFilterType, c.type);
        std::strcpy(Prefs.MacFilterCrtr, c.creator);
        std::strcpy(Prefs.MacFilterExt, c.ext);
        SelectMac(":", {"A", "top.txt"});
        PcDirectory = out;
        ws.messages.clear();
        EXPECT_EQ(CopyMacToPc(MainWindow), c.copied.empty() ? 0 : 1);
        std::vector<std::string> got;
        for (const auto& [path, bytes] : ReadFileTree(out)) got.push_back(path);
        EXPECT_EQ(got, c.copied) << c.type << c.ext;
        if (c.copied.empty()) {
            ASSERT_EQ(ws.messages.size(), 1u);
            EXPECT_EQ(ws.messages[0].text, "No files marked!");
            EXPECT_EQ(ws.messages[0].caption, "Error");
        }
    }
    // The PC side: a.txt and b.TXT pass, c.txt2 and d do not, at every level.
    const std::string src = pc.PathOf("src");
    fs::create_directories(src + "/d/e");
    for (const char* name : {"a.txt", "d/b.TXT", "d/e/c.txt2", "d/e/d"})
        pc.WriteFile("src/" + std::string(name), {1, 2});
    Prefs.PCCopyFilter = 1;
    std::strcpy(Prefs.PCFilterExt, "txt");
    SelectMac(":Back", {});
    SelectPc(src, {"a.txt", "d"});
    ASSERT_EQ(CopyPcToMac(MainWindow), 1);
    EXPECT_EQ(ws.messages.back().text, "Files to copy:\t2\nBytes to copy:\t4");
    CloseMacDrive();
    const auto after = MacTree();
    EXPECT_EQ(after.count(":Back:a.txt") + after.count(":Back:d:b.TXT"), 2u);
    EXPECT_EQ(after.count(":Back:d:e:c.txt2") + after.count(":Back:d:e:d"), 0u);
}

// A taken PC name two folders down is asked about like one at the top.
TEST_F(TreeCopyTest, EachAnswerToATakenNameDeepInTheTree)
{
    struct Case {
        NameExistsAnswer answer;
        const char* typed;
        std::vector<std::string> names; // in out/A/B afterwards
        bool oldKept;
        bool cancelled;
    };
    const Case cases[] = {{NameExistsAnswer::Skip, "", {"C", "b.bin"}, true, false},
                          {NameExistsAnswer::Overwrite, "", {"C", "b.bin"}, false, false},
                          {NameExistsAnswer::NewName, "b2.bin", {"C", "b.bin", "b2.bin"}, true, false},
                          {NameExistsAnswer::Cancel, "", {"b.bin"}, true, true}};
    Open();
    MacToPcIndex = kDataTranslator;
    for (const Case& c : cases) {
        const std::string out = pc.PathOf("n" + std::to_string(static_cast<int>(c.answer)));
        fs::create_directories(out + "/A/B");
        const Bytes old{9, 9, 9};
        pc.WriteFile(fs::relative(out + "/A/B/b.bin", pc.Path()).string(), old);
        ws.asked.clear();
        ws.Script({{c.answer, c.typed}});
        SelectMac(":", {"A"});
        PcDirectory = out;
        ASSERT_EQ(CopyMacToPc(MainWindow), 1);
        ASSERT_EQ(ws.asked.size(), 1u);
        EXPECT_EQ(ws.shown[ws.shown.size() - 1], "b.bin");
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out + "/A/B")) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(ReadFileBytes(out + "/A/B/b.bin") == old, c.oldKept);
        EXPECT_EQ(fs::exists(out + "/A/B/C/c.rsrc"), !c.cancelled);
        EXPECT_EQ(MacPaneState.folderId, 2u);
    }
}

// Cancel during the k-th pump, for every k, both ways: no partial PC file,
// the volume sound and holding whole files only, the panes where they were.
TEST_F(TreeCopyTest, CancelAtEveryPumpBothWays)
{
    const std::string original = dir.PathOf("original.img");
    fs::copy_file(image, original);
    const std::string src = pc.PathOf("src");
    fs::create_directories(src + "/P/Q");
    std::map<std::string, Bytes> sources;
    for (int i = 0; i < 4; ++i) {
        const std::string name = (i < 2 ? "P/" : "P/Q/") + std::string("f") + std::to_string(i);
        sources[name] = PatternBytes(50000 + 1000 * i, 10 + i);
        pc.WriteFile("src/" + name, sources[name]);
    }
    MacToPcIndex = kMacBinaryTranslator;
    PcToMacIndex = kDataTranslator;
    bool macToPcDone = false;
    bool pcToMacDone = false;
    for (unsigned k = 1; k < 400 && !(macToPcDone && pcToMacDone); ++k) {
        SCOPED_TRACE(k);
        ws.cancelAtPump = k;
        if (!macToPcDone) {
            const std::string out = pc.PathOf("c" + std::to_string(k));
            fs::create_directory(out);
            Open();
            SelectMac(":", {"A", "top.txt"});
            PcDirectory = out;
            ws.pumps = 0;
            ASSERT_EQ(CopyMacToPc(MainWindow), 1);
            macToPcDone = ws.pumps < k;
            EXPECT_EQ(PcDirectory, out);
            EXPECT_EQ(MacPaneState.folderId, 2u);
            CloseMacDrive();
            for (const auto& [path, bytes] : ReadFileTree(out)) {
                MacFileImage file;
                EXPECT_TRUE(ReadMacBinary(bytes, &file)) << path << " is partial";
            }
        }
        if (!pcToMacDone) {
            fs::copy_file(original, image, fs::copy_options::overwrite_existing);
            Open();
            SelectMac(":Back", {});
            const uint32_t back = MacPaneState.folderId;
            SelectPc(src, {"P"});
            ws.pumps = 0;
            ASSERT_EQ(CopyPcToMac(MainWindow), 1);
            pcToMacDone = ws.pumps < k;
            EXPECT_EQ(PcDirectory, src);
            EXPECT_EQ(MacPaneState.folderId, back);
            ExpectSound();
            size_t whole = 0;
            for (const auto& [path, file] : MacTree()) {
                if (path.rfind(":Back:", 0) != 0) continue;
                std::string pcPath = path.substr(6);
                std::replace(pcPath.begin(), pcPath.end(), ':', '/');
                EXPECT_EQ(file.data, sources[pcPath]) << path;
                ++whole;
            }
            if (pcToMacDone) {
                EXPECT_EQ(whole, sources.size());
            }
        }
    }
    EXPECT_TRUE(macToPcDone && pcToMacDone);
}

// Links and FIFOs in a PC tree never followed nor read, a taken folder name,
// and a PC tree to the walk's depth bound and one level past it.
TEST_F(TreeCopyTest, LinksAndDepth)
{
    Open();
    const std::string src = pc.PathOf("L");
    fs::create_directories(src + "/in");
    pc.WriteFile("L/in/real", {7});
    fs::create_symlink("/etc/passwd", src + "/in/tofile");
    fs::create_directory_symlink(dir.Path(), src + "/in/todir");
    ASSERT_EQ(mkfifo((src + "/in/fifo").c_str(), 0600), 0);
    std::string deep = src + "/deep";
    for (uint32_t level = 0; level <= kPcWalkDepthLimit; ++level) deep += "/d";
    fs::create_directories(deep);
    pc.WriteFile(fs::relative(deep + "/bottom", pc.Path()).string(), {5});
    SelectMac(":Back", {});
    SelectPc(src, {"in"});
    ASSERT_EQ(CopyPcToMac(MainWindow), 1);
    // Again: a PC directory whose name a Mac folder holds stops the copy.
    ws.messages.clear();
    ASSERT_EQ(CopyPcToMac(MainWindow), 1);
    ASSERT_EQ(ws.messages.size(), 2u);
    EXPECT_EQ(ws.messages[1].text, "Name already exists");
    SelectPc(src, {"deep"});
    ws.messages.clear();
    ASSERT_EQ(CopyPcToMac(MainWindow), 1);
    ASSERT_FALSE(ws.messages.empty());
    EXPECT_EQ(ws.messages.back().text, "Could not create file/folder");
    CloseMacDrive();
    const auto after = MacTree();
    EXPECT_EQ(after.count(":Back:in:real"), 1u);
    for (const auto& [path, file] : after) EXPECT_EQ(path.find(":in:to"), std::string::npos) << path;
    EXPECT_EQ(after.count(":Back:in:fifo"), 0u);
    fs::remove_all(deep); // one level less is within the bound
    pc.WriteFile(fs::relative(fs::path(deep).parent_path().string() + "/bottom", pc.Path()).string(), {5});
    ASSERT_TRUE(hfs.Mount(image) && hfs.Mkdir(":Deep"));
    Open();
    SelectMac(":Deep", {});
    SelectPc(src, {"deep"});
    ws.messages.clear();
    ASSERT_EQ(CopyPcToMac(MainWindow), 1);
    EXPECT_EQ(ws.messages.size(), 1u);
    ExpectSound();
}

} // namespace
