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

// ---- the written volume ---------------------------------------------------------

// ---- the dialog and progress sequence ---------------------------------------------

// ---- failures and Cancel ---------------------------------------------------------

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

// ---- which images can be formatted --------------------------------------------

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
