// The Delete command on both panes, driven from the user's side: its
// questions, Cancel and device failures at every step, trees deep and wide,
// and links on the PC.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "core/status.h"
#include "disk/image_drive.h"
#include "hfs/catalog_ops.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "support/engine_state.h"
#include "support/hfsutils_driver.h"
#include "support/recording_window.h"
#include "support/shadow_volume.h"
#include "transfer/delete_walks.h"
#include "ui/delete_commands.h"
#include "ui/mac_pane.h"
#include "ui/mac_session.h"
#include "ui/pc_pane.h"

namespace fs = std::filesystem;

namespace {

// Selects the lines of `list` whose item is named in `names`.
void SelectNamed(int list, const std::set<std::string>& names)
{
    for (int line = 0; line < Ws().ListCount(list); ++line) {
        const intptr_t i = Ws().ListItemData(list, line);
        const std::string name = list == kIdMacList ? MacString(MacPaneState.items[i]->name) : PcItemList[i].name;
        if (names.count(name)) Ws().ListSelect(list, line, true);
    }
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Entries below `top`, itself not counted; -1 when it is gone.
long Remaining(const fs::path& top)
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(top, ec))) return -1;
    long n = 0;
    for (auto it = fs::recursive_directory_iterator(top, ec); it != fs::recursive_directory_iterator(); ++it) ++n;
    return n;
}

class DeleteCommands : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
    }

    // A diskette: "Tree" with F00..F19 (100 * i bytes), and "Loose" (1234 bytes).
    std::string MacBase()
    {
        const std::string path = dir.PathOf("base.img");
        std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
        for (int i = 0; i < 20; ++i) files.push_back({(i < 10 ? "F0" : "F") + std::to_string(i), PatternBytes(100 * i, i)});
        EXPECT_TRUE(hfs.Format(path, "Del", 1474560) && hfs.Mkdir(":Tree") && hfs.PutRawFiles(files, ":Tree:") &&
                    hfs.PutRawFiles({{"Loose", PatternBytes(1234)}}, ":"))
            << hfs.LastError();
        return path;
    }
    // Opens a copy of `base` with the root listed; the image's slot.
    int OpenCopy(const std::string& base)
    {
        const std::string path = dir.WriteFile("run.img", ReadFileBytes(base));
        if (!OpenImageAsMacDrive(path.c_str(), true) || !OpenListedVolume(0)) return -1;
        for (unsigned i = 0; i < kMaxImages; ++i)
            if (ImageTable[i].used) return static_cast<int>(i);
        return -1;
    }
    // The volume after the command, reopened and checked: the items left in
    // Tree, or -1 when Tree is gone.
    long MacTreeLeft()
    {
        CloseMacDrive();
        if (!OpenImageAsMacDrive(dir.PathOf("run.img").c_str(), false) || !OpenListedVolume(0)) return -2;
        std::string why;
        EXPECT_TRUE(VolumeIsClean(&why)) << why;
        MacPathTarget tree;
        const Lookup found = FindMacPath("Tree", &tree);
        uint16_t valence = 0;
        const bool read = found == Lookup::Found && FolderValence(tree.parentId, tree.name, &valence);
        CloseMacDrive();
        return found == Lookup::Missing ? -1 : read ? valence : -2;
    }
    void ShowPc(const fs::path& directory)
    {
        PcDirectory = directory.string();
        RefreshPcListKeepTop(nullptr);
    }
    // A PC tree: Tree/{a.txt, b.txt, Sub/{c.txt, Deeper/d.txt}}, Empty/, loose.txt.
    fs::path PcBase()
    {
        const fs::path top = fs::path(pc.Path()) / "pane";
        fs::create_directories(top / "Tree" / "Sub" / "Deeper");
        fs::create_directories(top / "Empty");
        for (const char* name : {"Tree/a.txt", "Tree/b.txt", "Tree/Sub/c.txt", "Tree/Sub/Deeper/d.txt"})
            WriteText(top / name, "12345");
        WriteText(top / "loose.txt", std::string(1000, 'x'));
        return top;
    }

    TempDir dir;
    TempDir pc;
    HfsUtils hfs;
};

TEST_F(DeleteCommands, QuestionsInOrderAndCancelAtEitherDeletesNothing)
{
    const std::string base = MacBase();
    const fs::path top = PcBase();
    struct Side {
        bool mac;
        const char* warning;
        const char* confirmation;
        const char* caption;
    };
    const Side sides[] = {
        {true,
         "You have selected folders for deletion. All files and\nsubfolders under these folders will also be deleted.",
         "Files to delete:\t21\nBytes to delete:\t20,234", "Ready to delete files from Mac disk"},
        {false,
         "You have selected directories for deletion. All files and\nsubdirectories under these directories will also "
         "be deleted.",
         "Files to delete:\t5\nBytes to delete:\t1,020", "Ready to delete files from PC disk"},
    };
    for (const Side& side : sides) {
        for (unsigned cancelAt : {1u, 2u, 0u}) {
            SCOPED_TRACE(std::string(side.caption) + ", Cancel at question " + std::to_string(cancelAt));
            RecordingWindowSystem ws;
            ws.cancelAtQuestion = cancelAt;
            int result = -1;
            if (side.mac) {
                ASSERT_GE(OpenCopy(base), 0);
                SelectNamed(kIdMacList, {"Tree", "Loose"});
                result = DeleteOnMac(nullptr);
            } else {
                ShowPc(top);
                SelectNamed(kPcListControl, {"Tree", "loose.txt"});
                result = DeleteOnPc(nullptr);
            }
            EXPECT_EQ(result, cancelAt == 0 ? 1 : 0);
            ASSERT_EQ(ws.messages.size(), cancelAt == 1 ? 1u : 2u);
            EXPECT_EQ(ws.messages[0].text, side.warning);
            EXPECT_EQ(ws.messages[0].caption, "WARNING");
            if (cancelAt != 1) {
                EXPECT_EQ(ws.messages[1].text, side.confirmation);
                EXPECT_EQ(ws.messages[1].caption, side.caption);
            }
            if (side.mac) {
                EXPECT_EQ(MacTreeLeft(), cancelAt == 0 ? -1 : 20);
            } else {
                EXPECT_EQ(Remaining(top / "Tree"), cancelAt == 0 ? -1 : 6);
                EXPECT_EQ(fs::exists(top / "loose.txt"), cancelAt != 0);
                if (cancelAt == 0) {
                    EXPECT_EQ(PcItemList.size(), 1u);  // the pane shows what is left: Empty
                }
            }
            if (cancelAt == 0) {
                EXPECT_EQ(ws.progressTitle, side.mac ? "Deleting Mac files" : "Deleting PC files");
            }
        }
    }
    // An empty directory alone: the warning, then a count of nothing.
    RecordingWindowSystem ws;
    ShowPc(top);
    SelectNamed(kPcListControl, {"Empty"});
    EXPECT_EQ(DeleteOnPc(nullptr), 1);
    ASSERT_EQ(ws.messages.size(), 2u);
    EXPECT_EQ(ws.messages[1].text, "Files to delete:\t0\nBytes to delete:\t0");
    EXPECT_FALSE(fs::exists(top / "Empty"));
}

// A folder of 20 files is written back after its 16th file, when it is
// empty, and after it goes: a failed device write or a Cancel anywhere
// leaves exactly one of those states, reported once (Cancel silently).
TEST_F(DeleteCommands, MacFailureOrCancelLeavesTheLastWriteBack)
{
    const std::string base = MacBase();
    for (const bool cancel : {false, true}) {
        std::set<long> states;
        for (uint32_t k = 1;; ++k) {
            SCOPED_TRACE((cancel ? "Cancel at pump " : "failed write ") + std::to_string(k));
            RecordingWindowSystem ws;
            const int slot = OpenCopy(base);
            ASSERT_GE(slot, 0);
            ImageFaults& faults = ImageTable[slot].faults;
            if (cancel) ws.cancelAtPump = k;
            else faults.failWriteAt = faults.writes + k;
            SelectNamed(kIdMacList, {"Tree"});
            EXPECT_EQ(DeleteOnMac(nullptr), 1);
            const bool hit = cancel ? ws.pumps >= k : faults.writes >= faults.failWriteAt;
            std::vector<std::string> reports;
            for (const auto& m : ws.messages)
                if (!(m.style & kMbOkCancel)) reports.push_back(m.text);
            EXPECT_EQ(reports, (hit && !cancel ? std::vector<std::string>{"Error writing to Mac disk"}
                                               : std::vector<std::string>{}));
            EXPECT_EQ(MacPaneState.folderId, 2u);  // the pane back on the root, listed again
            EXPECT_EQ(Ws().ListCount(kIdMacList), MacPaneState.count);
            states.insert(MacTreeLeft());
            if (!hit) break;
            ASSERT_LT(k, 400u);
        }
        EXPECT_EQ(states, (std::set<long>{20, 4, 0, -1}));
    }
}

TEST_F(DeleteCommands, PcCancelAtEveryPumpStopsAfterTheCurrentItem)
{
    long before = 100;
    for (unsigned k = 1;; ++k) {
        SCOPED_TRACE("Cancel at pump " + std::to_string(k));
        fs::remove_all(fs::path(pc.Path()) / "pane");
        const fs::path top = PcBase();
        RecordingWindowSystem ws;
        ws.cancelAtPump = k;
        ShowPc(top);
        SelectNamed(kPcListControl, {"Tree", "loose.txt"});
        EXPECT_EQ(DeleteOnPc(nullptr), 1);
        const long left = Remaining(top / "Tree") + fs::exists(top / "loose.txt");
        EXPECT_LE(left, before);
        before = left;
        for (const auto& m : ws.messages) EXPECT_TRUE(m.style & kMbOkCancel) << m.text;
        EXPECT_EQ(static_cast<size_t>(Ws().ListCount(kPcListControl)), PcItemList.size());
        if (ws.pumps < k) break;
        ASSERT_LT(k, 100u);
    }
    EXPECT_EQ(before, -1);
}

TEST_F(DeleteCommands, DeepTreesAndBigFolders)
{
    // Mac: folders 40 deep with a file at the bottom, and a folder of 5,000 files.
    const std::string base = dir.PathOf("big.img");
    ASSERT_TRUE(hfs.Format(base, "Big", 8u << 20)) << hfs.LastError();
    ASSERT_GE(OpenCopy(base), 0);
    auto name = [](const std::string& text) {
        Str31 n;
        PcNameToMac(n.bytes, text.c_str());
        return n;
    };
    for (const std::string& top : {std::string("Tree"), std::string("Wide")}) {
        MacFolder at = PaneFolder();
        for (int depth = 0; depth < (top == "Tree" ? 40 : 1); ++depth) {
            const Str31 n = name(depth == 0 ? top : "D" + std::to_string(depth));
            CreateFolderIn(at, n.bytes);
            MacPathTarget made;
            ASSERT_EQ(FindMacItem(at.id, n.bytes, &made), Lookup::Found);
            at = MacFolder{at.id, {}, made.id};
            n.CopyTo(at.name);
        }
        for (int i = 0; i < (top == "Tree" ? 1 : 5000); ++i) {
            FileCreateRequest request{};
            name("f" + std::to_string(i)).CopyTo(request.name);
            CreateFileIn(at, &request);
            if (i % 500 == 0) FlushVolume();
        }
        FlushVolume();
        ASSERT_EQ(StatusCode, 0u) << top;
    }
    RecordingWindowSystem ws;
    RefreshMacFolder(nullptr);
    SelectNamed(kIdMacList, {"Tree", "Wide"});
    EXPECT_EQ(DeleteOnMac(nullptr), 1);
    ASSERT_EQ(ws.messages.size(), 2u);
    EXPECT_EQ(ws.messages[1].text, "Files to delete:\t5001\nBytes to delete:\t0");
    EXPECT_EQ(MacTreeLeft(), -1);

    // PC: 100 deep is walked, past the bound nothing is touched (105); 5,000 files.
    const fs::path top = fs::path(pc.Path()) / "pane";
    fs::path deep = top / "Deep";
    for (unsigned depth = 0; depth < 100; ++depth) deep /= "d";
    fs::path tooDeep = top / "TooDeep";
    for (unsigned depth = 0; depth <= kPcDeleteDepthLimit + 1; ++depth) tooDeep /= "d";
    fs::create_directories(deep);
    fs::create_directories(tooDeep);
    fs::create_directories(top / "Wide");
    for (int i = 0; i < 5000; ++i) WriteText(top / "Wide" / ("f" + std::to_string(i)), "");
    for (const char* selected : {"Deep", "Wide", "TooDeep"}) {
        SCOPED_TRACE(selected);
        RecordingWindowSystem pcWs;
        ShowPc(top);
        SelectNamed(kPcListControl, {selected});
        EXPECT_EQ(DeleteOnPc(nullptr), 1);
        const bool refused = std::string(selected) == "TooDeep";
        EXPECT_EQ(fs::exists(top / selected), refused);
        ASSERT_EQ(pcWs.messages.size(), refused ? 1u : 2u);
        if (refused) {
            EXPECT_EQ(pcWs.messages[0].text, "Could not delete file/directory");
        }
    }
    EXPECT_TRUE(fs::exists(tooDeep));
}

TEST_F(DeleteCommands, PcLinksAndSpecialFilesGoAsNamesTheirTargetsStay)
{
    const fs::path outside = fs::path(pc.Path()) / "outside";
    fs::create_directories(outside / "dir");
    WriteText(outside / "dir" / "kept.txt", "kept");
    WriteText(outside / "file.txt", "kept too");
    const fs::path top = fs::path(pc.Path()) / "pane";
    fs::create_directories(top / "Tree" / "Sub");
    fs::create_directory_symlink(outside / "dir", top / "Tree" / "to-dir");
    fs::create_symlink(outside / "file.txt", top / "Tree" / "Sub" / "to-file");
    fs::create_symlink(outside / "nothing", top / "Tree" / "dangling");
    ASSERT_EQ(mkfifo((top / "Tree" / "Sub" / "fifo").c_str(), 0600), 0);
    fs::create_directory_symlink(outside / "dir", top / "link");
    RecordingWindowSystem ws;
    ShowPc(top);
    SelectNamed(kPcListControl, {"Tree", "link"});
    EXPECT_EQ(DeleteOnPc(nullptr), 1);
    ASSERT_EQ(ws.messages.size(), 2u);
    EXPECT_EQ(ws.messages[1].text, "Files to delete:\t5\nBytes to delete:\t0");
    EXPECT_EQ(Remaining(top), 0);
    EXPECT_EQ(ReadFileBytes((outside / "dir" / "kept.txt").string()).size(), 4u);
    EXPECT_EQ(ReadFileBytes((outside / "file.txt").string()).size(), 8u);
}

// Items that stay are counted and the first named, and the rest still goes.
// Names with no Windows-1252 form (bytes that are not UTF-8 here) are listed
// with '?' and cannot be reached by that name, whoever runs the test; a
// directory without write permission keeps its items only for a user
// without root's override, so that case runs only then.
TEST_F(DeleteCommands, PcItemsThatStayAreReportedAndTheRestGoes)
{
    const fs::path top = fs::path(pc.Path()) / "pane";
    fs::create_directories(top / "Tree" / "Locked");
    WriteText(top / "Tree" / "Locked" / "x", "x");
    WriteText(top / "Tree" / "y", "y");
    WriteText(top / "\xff" "1", "");
    WriteText(top / "\xfe" "2", "");
    const bool root = geteuid() == 0;
    if (!root) chmod((top / "Tree" / "Locked").c_str(), 0555);
    RecordingWindowSystem ws;
    ShowPc(top);
    SelectNamed(kPcListControl, {"?1", "?2", "Tree"});
    EXPECT_EQ(DeleteOnPc(nullptr), 1);
    ASSERT_EQ(ws.messages.size(), 3u);
    EXPECT_EQ(ws.messages[2].caption, "");
    EXPECT_EQ(ws.messages[2].text, root ? "2 items could not be deleted, the first: ?1"
                                         : "3 items could not be deleted, the first: Tree/Locked/x");
    EXPECT_FALSE(fs::exists(top / "Tree" / "y"));
    EXPECT_EQ(fs::exists(top / "Tree"), !root);
    if (!root) chmod((top / "Tree" / "Locked").c_str(), 0755);
}

}  // namespace
