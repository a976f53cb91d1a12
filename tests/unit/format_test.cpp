// Formatting: the packed-block expander, the label rules, the empty volume
// as an independent reader and the engine's checker see it, the dialog and
// progress sequence, and every failure and Cancel point. hfsutils mounts,
// measures and fills what we format in tests/integration/format_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/progress.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/btree_node.h"
#include "hfs/btree_search.h"
#include "hfs/bytes.h"
#include "hfs/catalog_keys.h"
#include "hfs/format.h"
#include "hfs/mac_time.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_state.h"
#include "support/engine_tree.h"
#include "support/hfs_layout.h"
#include "support/recording_window.h"
#include "support/shadow_volume.h"
#include "support/temp_image.h"
#include "ui/format_text.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kBlock = 512;

// The blocks a format writes, in the order it writes them.
std::vector<uint32_t> WriteOrder()
{
    std::vector<uint32_t> order{0, 1};
    for (uint32_t b = 5; b <= 25; ++b) order.push_back(b);
    for (uint32_t b = 28; b <= 47; ++b) order.push_back(b);
    for (uint32_t b : {2u, 3u, 4u, 26u, 27u, 48u, 2878u}) order.push_back(b);
    return order;
}
const unsigned kFormatWrites = static_cast<unsigned>(WriteOrder().size());  // 50

// The first `n` blocks the format writes, in block order.
std::vector<uint32_t> FirstWritten(unsigned n)
{
    std::vector<uint32_t> blocks = WriteOrder();
    blocks.resize(n);
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

// The blocks in which `after` differs from `before`. Diskette() differs from
// a formatted volume in every block, so these are the blocks written.
std::vector<uint32_t> ChangedBlocks(const Bytes& before, const Bytes& after)
{
    std::vector<uint32_t> changed;
    for (uint32_t block = 0; block < before.size() / kBlock; ++block)
        if (std::memcmp(before.data() + block * kBlock, after.data() + block * kBlock, kBlock) != 0)
            changed.push_back(block);
    return changed;
}

Bytes BlockOf(const Bytes& image, uint32_t block)
{
    return Bytes(image.begin() + block * kBlock, image.begin() + (block + 1) * kBlock);
}

class FormatTest : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        ResetFormatState();
    }
    void TearDown() override
    {
        ResetFormatState();
        EngineStateTest::TearDown();
    }
    static void ResetFormatState()
    {
        std::memset(VolumeLabel, 0, sizeof VolumeLabel);
        ProgressWindow = nullptr;
        ProgressTotal = 0;
        ProgressDone = 0;
        ProgressTitle = nullptr;
        WaitCursorEnabled = true;
        StatusCode = 0;
    }
    // A 1.44 MB image whose every block differs, so a block written where it
    // should not be shows.
    static Bytes Diskette() { return PatternBytes(kDisketteBytes, 7); }

    // The formatted image `path` as an independent reader and the engine
    // (with its checker) see it: labelled `label` (Mac characters), an empty
    // root but for the Desktop file, every date one made in [earliest, latest].
    static void ExpectFormattedVolume(const std::string& path, const std::string& label, uint32_t earliest,
                                      uint32_t latest)
    {
        RawVolume raw = ParseRawVolume(ReadFileBytes(path));
        ASSERT_TRUE(raw.ok) << raw.error;
        EXPECT_EQ(raw.allocBlockSize, 512u);
        ASSERT_EQ(raw.children[kRootParentId].size(), 1u);
        ASSERT_EQ(raw.children[kRootFolderId].size(), 1u);
        EXPECT_EQ(raw.children[kRootParentId][0].name, label);
        EXPECT_EQ(raw.children[kRootParentId][0].id, kRootFolderId);
        EXPECT_EQ(raw.children[kRootFolderId][0].name, "Desktop");
        EXPECT_EQ(raw.children[kRootFolderId][0].id, 16u);

        ASSERT_TRUE(OpenImageAsMacDrive(path.c_str(), false)) << StatusCode;
        ASSERT_TRUE(OpenListedVolume(0)) << StatusCode;
        std::string why;
        EXPECT_TRUE(VolumeIsClean(&why)) << why;
        const uint8_t* mdb = MacVolume.mdb->data;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(mdb + kMdbVolumeName + 1), mdb[kMdbVolumeName]), label);
        const uint32_t now = GetU32(mdb + kMdbCreated);
        EXPECT_GE(now, earliest);
        EXPECT_LE(now, latest);
        EXPECT_EQ(GetU32(mdb + kMdbModified), now);
        Bytes name(32, 0);
        name[0] = static_cast<uint8_t>(label.size());
        std::memcpy(name.data() + 1, label.data(), label.size());
        BlockBuffer* leaf = nullptr;
        uint16_t offset = 0;
        ASSERT_EQ(SearchCatalog(CatalogRoot(), kRootParentId, name.data(), nullptr, &offset, &leaf), 0);
        const uint8_t* root = leaf->data + RecordDataOffset(leaf, offset);
        EXPECT_EQ(GetU32(root + kFolderCreated), now);
        EXPECT_EQ(GetU32(root + kFolderModified), now);
        ForkRef desktop{};
        const uint8_t desktopName[] = "\x07" "Desktop";
        ASSERT_EQ(LookupFile(desktopName, kRootFolderId, &desktop), 0);
        const uint8_t* file = desktop.recordBuffer->data + desktop.recordOffset;
        EXPECT_EQ(GetU32(file + kFileCreated), now);
        EXPECT_EQ(GetU32(file + kFileModified), now);
        Bytes fork;
        ASSERT_TRUE(ReadEngineFork(kRootFolderId, "Desktop", kResourceFork, &fork));
        ASSERT_EQ(fork.size(), 286u);
        EXPECT_EQ(GetU32(fork.data() + 114), now);  // in the resource header's application area
        CloseMacDrive();
    }
};

// ---- UnpackBits ------------------------------------------------------------------

TEST_F(FormatTest, UnpackBitsExpandsWithinOneBlockAndRefusesMalformedInput)
{
    Bytes mixed{'a', 'b', 'c', 'x', 'x', 'x', 'z'};
    mixed.resize(7 + 128, 0);
    Bytes oneBlock;
    for (uint8_t i = 0; i < 4; ++i) oneBlock.insert(oneBlock.end(), 128, i);
    struct Case {
        const char* what;
        Bytes packed;
        int result;
        Bytes out;
    };
    const std::vector<Case> cases = {
        {"literals, runs and the no-op byte", {0x02, 'a', 'b', 'c', 0x80, 0xFE, 'x', 0x80, 0x00, 'z', 0x81, 0x00}, 135,
         mixed},
        {"nothing", {}, 0, {}},
        {"only no-op bytes", {0x80, 0x80}, 0, {}},
        {"four runs of 128: one whole block", {0x81, 0, 0x81, 1, 0x81, 2, 0x81, 3}, 512, oneBlock},
        {"literal cut short", {0x05, 'a', 'b'}, -1, {}},
        {"count byte alone", {0x7F}, -1, {}},
        {"run without its byte", {0x81}, -1, {}},
        {"run past the block", {0x81, 1, 0x81, 2, 0x81, 3, 0x81, 4, 0xFF, 5}, -1, {}},
        {"literal past the block", {0x81, 0, 0x81, 0, 0x81, 0, 0x82, 0, 0x01, 'a', 'b'}, -1, {}},  // 511, then 2
        {"one byte too many", {0x81, 9, 0x81, 9, 0x81, 9, 0x81, 9, 0x00, 'x'}, -1, {}},
    };
    for (const Case& c : cases) {
        // The input lives in a heap buffer of exactly its size, so a read
        // past it is caught; the destination has a guard area.
        const Bytes packed(c.packed);
        Bytes out(kBlock + 64, 0xEE);
        EXPECT_EQ(UnpackBits(packed.data(), static_cast<unsigned>(packed.size()), out.data()), c.result) << c.what;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + std::max(c.result, 0)), c.out) << c.what;
        for (size_t i = c.result >= 0 ? size_t(c.result) : kBlock; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xEE) << c.what << " wrote at " << i;
    }
}

// ---- the label --------------------------------------------------------------------

TEST_F(FormatTest, EmptyLabelAndColonAreRefused)
{
    for (const char* bad : std::vector<const char*>{"", "Disk:One", ":", nullptr}) {
        SetVolumeLabel("Previous");
        StatusCode = 0;
        EXPECT_FALSE(SetVolumeLabel(bad)) << (bad ? bad : "null");
        EXPECT_EQ(StatusCode, kStatusCannotCreate);
        for (uint8_t c : VolumeLabel) ASSERT_EQ(c, 0);
    }
}

// ---- the written volume ---------------------------------------------------------

// Formats with labels of every length, converted to Mac characters and cut
// to 27: only the volume's blocks change, and the volume is sound and
// carries the label and the time of the format.
TEST_F(FormatTest, LabelsOfEveryLengthMakeASoundVolume)
{
    const std::vector<std::pair<const char*, std::string>> labels = {
        {"Backup 1996", "Backup 1996"}, {"A", "A"}, {"Untitled", "Untitled"}, {"Caf\xE9 \xA9", "Caf\x8E \xA9"},
        {"Twenty-seven characters ok!", "Twenty-seven characters ok!"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0"}};
    for (const auto& [pcLabel, macLabel] : labels) {
        SCOPED_TRACE(macLabel);
        ResetEngineState();
        const Bytes before = Diskette();
        TempImage image(before);
        ASSERT_NE(image.drive, nullptr);
        ASSERT_TRUE(SetVolumeLabel(pcLabel));
        EXPECT_EQ(StatusCode, 0u);
        for (size_t i = 1 + macLabel.size(); i < sizeof VolumeLabel; ++i) ASSERT_EQ(VolumeLabel[i], 0) << i;
        const uint32_t earliest = MacNow();
        ProgressDone = 0;
        {
            RecordingWindowSystem ws;
            ws.showsProgress = macLabel != "A";  // without a progress window the volume is still written
            EXPECT_EQ(image.drive->FormatVolume(image.drive), 0);
            EXPECT_EQ(StatusCode, 0u);
            EXPECT_EQ(ws.messages.size(), 1u);  // the warning only
            EXPECT_EQ(ws.barPercents.size(), ws.showsProgress ? 25u : 0u);
            EXPECT_EQ(ProgressDone, ws.showsProgress ? 24u : 0u);
        }
        const uint32_t latest = MacNow();
        EXPECT_EQ(image.Slot().faults.writes, kFormatWrites);
        const Bytes after = ReadFileBytes(image.path);
        ASSERT_EQ(after.size(), before.size());
        EXPECT_EQ(ChangedBlocks(before, after), FirstWritten(kFormatWrites));
        for (uint32_t block : {0u, 1u}) EXPECT_EQ(BlockOf(after, block), Bytes(kBlock, 0xF6)) << block;
        for (uint32_t block = 5; block <= 47; ++block)  // the free B-tree nodes
            EXPECT_TRUE(block == 26 || block == 27 || BlockOf(after, block) == Bytes(kBlock, 0)) << block;
        ExpectFormattedVolume(image.path, macLabel, earliest, latest);
    }
}

// ---- the dialog and progress sequence ---------------------------------------------

TEST_F(FormatTest, WarningThenProgressWindowThroughTwentyFourSteps)
{
    TempImage image(Diskette(), 512, true, "floppy.img");
    ASSERT_TRUE(SetVolumeLabel("Work"));
    RecordingWindowSystem ws;
    ASSERT_EQ(FormatDiskette(image.drive), 0);

    ASSERT_EQ(ws.messages.size(), 1u);
    EXPECT_EQ(ws.messages[0].text, "Formatting will erase all data on diskette!");
    EXPECT_EQ(ws.messages[0].caption, "WARNING!");
    EXPECT_EQ(ws.messages[0].style, kMbOkCancel | kMbIconExclamation);

    EXPECT_EQ(ws.progressOpened, 1u);
    EXPECT_EQ(ws.progressClosed, 1u);
    EXPECT_FALSE(ws.foreignWindow);
    EXPECT_EQ(ws.progressTitle, "Formatting");
    EXPECT_TRUE(ws.progressBarShown);
    EXPECT_EQ(ws.progressItems, (std::vector<std::string>{"", "Creating \"Work\" on\n[IMAGE floppy.img]"}));
    EXPECT_EQ(ProgressTotal, 24u);
    EXPECT_EQ(ProgressDone, 24u);
    // The reset, then one drawing per step, ending full (progress_test has the steps between).
    ASSERT_EQ(ws.barPercents.size(), 25u);
    EXPECT_EQ(ws.barPercents.back(), 100u);
    EXPECT_EQ(ws.pumps, kFormatWrites);  // one before every block
    EXPECT_EQ(ProgressWindow, nullptr);
    EXPECT_TRUE(WaitCursorEnabled);
}

// ---- failures and Cancel ---------------------------------------------------------

// Failing the k-th write, or Cancel pressed during the pump before the k-th
// block, for every k: the window closes, no code is left behind, and only
// the blocks before the failing one, or up to the cancelled one, are
// written. A failure is reported once; a Cancel shows nothing.
TEST_F(FormatTest, AFailedWriteOrCancelAtAnyBlockStopsThere)
{
    const Bytes before = Diskette();
    for (const bool cancel : {false, true}) {
        for (unsigned k = 1; k <= kFormatWrites; ++k) {
            SCOPED_TRACE((cancel ? "cancel at pump " : "failing write ") + std::to_string(k));
            ResetEngineState();  // each image takes a drive table entry
            TempImage image(before);
            ASSERT_TRUE(SetVolumeLabel("Untitled"));
            RecordingWindowSystem ws;
            if (cancel) {
                ws.cancelAtPump = k;
            } else {
                image.Slot().faults.failWriteAt = k;
            }
            EXPECT_EQ(image.drive->FormatVolume(image.drive), 1);
            EXPECT_EQ(StatusCode, 0u);
            ASSERT_EQ(ws.messages.size(), cancel ? 1u : 2u);
            EXPECT_EQ(ws.messages.back().text,
                      cancel ? "Formatting will erase all data on diskette!" : "Can not format disk!");
            EXPECT_EQ(ws.messages.back().caption, cancel ? "WARNING!" : "Formatting Error");
            EXPECT_EQ(ws.messages.back().style, cancel ? kMbOkCancel | kMbIconExclamation : kMbOk | kMbIconStop);
            EXPECT_EQ(ws.pumps, k);
            EXPECT_EQ(ws.progressClosed, 1u);
            EXPECT_EQ(ProgressWindow, nullptr);
            EXPECT_TRUE(WaitCursorEnabled);
            EXPECT_EQ(image.Slot().faults.writes, k);
            EXPECT_EQ(ChangedBlocks(before, ReadFileBytes(image.path)), FirstWritten(cancel ? k : k - 1));
        }
    }
}

// Cancel at the warning, a drive that cannot be written (the format error)
// and a failure already pending (no format at all) leave the image alone.
TEST_F(FormatTest, NothingIsWrittenAfterCancelAtTheWarningToAReadOnlyDriveOrWithAFailurePending)
{
    const Bytes before = Diskette();
    ASSERT_TRUE(SetVolumeLabel("Untitled"));
    {
        TempImage image(before);
        RecordingWindowSystem ws;
        ws.okCancelAnswer = kIdCancel;
        EXPECT_EQ(FormatDiskette(image.drive), 2);
        EXPECT_EQ(StatusCode, 0u);
        EXPECT_EQ(ws.messages.size(), 1u);
        EXPECT_EQ(ws.progressOpened, 0u);
        EXPECT_EQ(ws.pumps, 0u);
        EXPECT_EQ(ReadFileBytes(image.path), before);
    }
    {
        TempImage image(before, 512, false);
        ASSERT_EQ(image.drive->WriteSectors, nullptr);
        RecordingWindowSystem ws;
        EXPECT_EQ(FormatDiskette(image.drive), 1);
        EXPECT_EQ(StatusCode, 0u);
        ASSERT_EQ(ws.messages.size(), 2u);
        EXPECT_EQ(ws.messages[1].text, "Can not format disk!");
        EXPECT_EQ(ReadFileBytes(image.path), before);
    }
    TempImage image(before);
    StatusCode = kStatusReadError;
    WriteEmptyVolume(image.drive);
    EXPECT_EQ(StatusCode, kStatusReadError);
    EXPECT_EQ(ReadFileBytes(image.path), before);
}

// ---- which images can be formatted --------------------------------------------

TEST_F(FormatTest, OnlyAPlainImageOfExactlyOneDisketteGetsTheFormatOperation)
{
    TempImage exact(Bytes(kDisketteBytes, 0), 512, true, "exact.img");
    TempImage smaller(Bytes(kDisketteBytes - kBlock, 0), 512, true, "smaller.img");
    TempImage asCdrom(Bytes(kDisketteBytes, 0), 2048, false, "cd.iso");
    TempImage readOnly(Bytes(kDisketteBytes, 0), 512, false, "locked.img");
    EXPECT_EQ(exact.drive->FormatVolume, FormatDiskette);
    EXPECT_EQ(smaller.drive->FormatVolume, nullptr);  // other sizes: the command line test, beside hfsutils
    EXPECT_EQ(asCdrom.drive->FormatVolume, nullptr);
    // The format dispatch refuses a drive it cannot write before it looks at this slot.
    EXPECT_EQ(readOnly.drive->FormatVolume, FormatDiskette);
    EXPECT_EQ(readOnly.drive->WriteSectors, nullptr);

    // A DiskCopy 4.2 image whose data is one diskette is not a plain image.
    Bytes dc42(84 + kDisketteBytes, 0);
    dc42[0] = 4;
    std::memcpy(dc42.data() + 1, "Disk", 4);
    PutU32(kDisketteBytes, &dc42[64]);
    dc42[82] = 1;
    TempImage diskCopy(dc42, 512, true, "disk.dc42");
    ASSERT_TRUE(diskCopy.Slot().diskCopy);
    EXPECT_EQ(diskCopy.drive->FormatVolume, nullptr);
}

TEST_F(FormatTest, CreatingADisketteImageMakesZeroesAndNeverReplacesAFile)
{
    TempDir dir;
    const std::string path = dir.PathOf("new.img");
    ASSERT_TRUE(CreateDisketteImage(path.c_str()));
    EXPECT_EQ(ReadFileBytes(path), Bytes(kDisketteBytes, 0));

    const std::string existing = dir.WriteFile("old.img", Bytes{1, 2, 3});
    EXPECT_FALSE(CreateDisketteImage(existing.c_str()));
    EXPECT_EQ(ReadFileBytes(existing), (Bytes{1, 2, 3}));
    EXPECT_FALSE(CreateDisketteImage(dir.PathOf("no/such/dir/x.img").c_str()));
}

}  // namespace
