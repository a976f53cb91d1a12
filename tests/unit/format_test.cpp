// Formatting: the packed-block expander, the label rules, the empty volume
// block by block against blocks built here from the volume's layout, the
// dialog and progress sequence, and every failure and Cancel point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "disk/drive_table.h"
#include "disk/format.h"
#include "disk/image_drive.h"
#include "disk/status.h"
#include "hfs/mac_time.h"
#include "support/recording_window.h"
#include "support/temp_image.h"
#include "ui/format_text.h"
#include "ui/progress.h"

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

// ---- the empty volume, written out from its layout ----------------------------

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b.at(at) = static_cast<uint8_t>(v >> 8);
    b.at(at + 1) = static_cast<uint8_t>(v);
}
void Put32(Bytes& b, size_t at, uint32_t v)
{
    Put16(b, at, v >> 16);
    Put16(b, at + 2, v & 0xFFFF);
}
void PutText(Bytes& b, size_t at, const std::string& s) { std::memcpy(b.data() + at, s.data(), s.size()); }
// A length byte and the characters.
void PutName(Bytes& b, size_t at, const std::string& name)
{
    b.at(at) = static_cast<uint8_t>(name.size());
    PutText(b, at + 1, name);
}

Bytes MasterBlock(bool alternate, const std::string& label, uint32_t now)
{
    Bytes b(kBlock, 0);
    Put16(b, 0, 0x4244);
    Put32(b, 2, now);
    Put32(b, 6, now);
    Put16(b, 10, alternate ? 0 : 0x0100);
    Put16(b, 12, alternate ? 0 : 1);
    Put16(b, 14, 3);
    Put16(b, 16, alternate ? 0 : 44);
    Put16(b, 18, 2874);
    Put32(b, 20, 512);
    Put32(b, 24, 2048);
    Put16(b, 28, 4);
    Put32(b, 30, alternate ? 16 : 17);
    Put16(b, 34, alternate ? 2830 : 2829);
    PutName(b, 36, label);
    Put32(b, 70, alternate ? 2 : 3225714838u);
    Put32(b, 74, 11264);
    Put32(b, 78, 11264);
    Put32(b, 84, alternate ? 0 : 1);
    Put32(b, 130, 11264);
    Put16(b, 134, 0);
    Put16(b, 136, 22);
    Put32(b, 146, 11264);
    Put16(b, 150, 22);
    Put16(b, 152, 22);
    return b;
}

Bytes HeaderNode(bool catalog)
{
    Bytes b(kBlock, 0);
    b[8] = 1;
    Put16(b, 10, 3);
    Put16(b, 510, 14);
    Put16(b, 508, 120);
    Put16(b, 506, 248);
    Put16(b, 504, 504);
    Put16(b, 14, catalog ? 1 : 0);   // depth
    Put32(b, 16, catalog ? 1 : 0);   // root
    Put32(b, 20, catalog ? 3 : 0);   // leaf records
    Put32(b, 24, catalog ? 1 : 0);   // first leaf
    Put32(b, 28, catalog ? 1 : 0);   // last leaf
    Put16(b, 32, 512);
    Put16(b, 34, catalog ? 37 : 7);
    Put32(b, 36, 22);
    Put32(b, 40, catalog ? 20 : 21);
    b[248] = catalog ? 0xC0 : 0x80;
    return b;
}

// The catalog's only leaf: the root folder, its thread and the Desktop file.
Bytes CatalogLeaf(const std::string& label, uint32_t now)
{
    Bytes root(1 + 6 + label.size(), 0);
    root[0] = static_cast<uint8_t>(label.size() + 6);
    Put32(root, 2, 1);
    PutName(root, 6, label);
    if (root.size() % 2) root.push_back(0);
    Bytes folder(70, 0);
    folder[0] = 1;
    Put16(folder, 4, 1);
    Put32(folder, 6, 2);
    Put32(folder, 10, now);
    Put32(folder, 14, now);
    root.insert(root.end(), folder.begin(), folder.end());

    Bytes thread(8 + 46, 0);
    thread[0] = 7;
    Put32(thread, 2, 2);
    thread[8] = 3;
    Put32(thread, 8 + 10, 1);
    PutName(thread, 8 + 14, label);

    Bytes desktop(14 + 102, 0);
    desktop[0] = 13;
    Put32(desktop, 2, 2);
    PutName(desktop, 6, "Desktop");
    const size_t d = 14;
    desktop[d] = 2;
    PutText(desktop, d + 4, "FNDRERIK");
    Put16(desktop, d + 12, 0x4000);
    Put32(desktop, d + 20, 16);
    Put32(desktop, d + 36, 286);
    Put32(desktop, d + 40, 512);
    Put32(desktop, d + 44, now);
    Put32(desktop, d + 48, now);
    Put16(desktop, d + 86, 44);
    Put16(desktop, d + 88, 1);

    Bytes b(kBlock, 0);
    b[8] = 0xFF;
    b[9] = 1;
    Put16(b, 10, 3);
    size_t offset = 14;
    unsigned index = 0;
    for (const Bytes* record : {&root, &thread, &desktop}) {
        Put16(b, 510 - 2 * index++, static_cast<uint32_t>(offset));
        std::memcpy(b.data() + offset, record->data(), record->size());
        offset += record->size();
    }
    Put16(b, 510 - 2 * index, static_cast<uint32_t>(offset));
    return b;
}

Bytes DesktopResourceFork(uint32_t now)
{
    Bytes b(kBlock, 0);
    for (size_t at : {size_t{0}, size_t{256}}) {
        Put32(b, at, 256);
        Put32(b, at + 4, 256);
        Put32(b, at + 8, 0);
        Put32(b, at + 12, 30);
    }
    Put16(b, 280, 28);
    Put16(b, 282, 30);
    Put16(b, 284, 0xFFFF);
    Put32(b, 114, now);
    return b;
}

// Every block the format writes, by number, for `label` (Mac characters).
std::map<uint32_t, Bytes> ExpectedBlocks(const std::string& label, uint32_t now)
{
    std::map<uint32_t, Bytes> blocks;
    blocks[0] = Bytes(kBlock, 0xF6);
    blocks[1] = Bytes(kBlock, 0xF6);
    blocks[2] = MasterBlock(false, label, now);
    Bytes bitmap(kBlock, 0);
    std::memset(bitmap.data(), 0xFF, 5);
    bitmap[5] = 0xF8;
    blocks[3] = bitmap;
    blocks[4] = HeaderNode(false);
    for (uint32_t b = 5; b <= 25; ++b) blocks[b] = Bytes(kBlock, 0);
    blocks[26] = HeaderNode(true);
    blocks[27] = CatalogLeaf(label, now);
    for (uint32_t b = 28; b <= 47; ++b) blocks[b] = Bytes(kBlock, 0);
    blocks[48] = DesktopResourceFork(now);
    blocks[2878] = MasterBlock(true, label, now);
    return blocks;
}

// The whole image after a format of `before`.
Bytes ExpectedImage(const Bytes& before, const std::string& label, uint32_t now)
{
    Bytes image = before;
    for (const auto& [block, content] : ExpectedBlocks(label, now))
        std::memcpy(image.data() + block * kBlock, content.data(), kBlock);
    return image;
}

// The image file in one read (the images here are 1.4 MB).
Bytes ReadImage(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return in ? bytes : Bytes{};
}

Bytes BlockOf(const Bytes& image, uint32_t block)
{
    return Bytes(image.begin() + block * kBlock, image.begin() + (block + 1) * kBlock);
}

uint32_t Get32(const Bytes& b, size_t at)
{
    return (uint32_t{b.at(at)} << 24) | (uint32_t{b.at(at + 1)} << 16) | (uint32_t{b.at(at + 2)} << 8) | b.at(at + 3);
}
uint32_t Get16(const Bytes& b, size_t at) { return (uint32_t{b.at(at)} << 8) | b.at(at + 1); }

// Compares block by block so a failure names the block.
void ExpectBlocks(const Bytes& actual, const Bytes& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (uint32_t block = 0; block < actual.size() / kBlock; ++block)
        EXPECT_EQ(BlockOf(actual, block), BlockOf(expected, block)) << "block " << block;
}

class FormatTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        ResetFormatState();
    }
    void TearDown() override
    {
        ResetFormatState();
        DiskStateTest::TearDown();
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
};

// ---- UnpackBits ------------------------------------------------------------------

TEST_F(FormatTest, UnpackBitsExpandsLiteralsRunsAndSkipsTheNoOpByte)
{
    const Bytes packed{0x02, 'a', 'b', 'c', 0x80, 0xFE, 'x', 0x80, 0x00, 'z', 0x81, 0x00};
    uint8_t out[kBlock + 16];
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(UnpackBits(packed.data(), static_cast<unsigned>(packed.size()), out), 3 + 3 + 1 + 128);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 7), "abcxxxz");
    for (unsigned i = 7; i < 7 + 128; ++i) ASSERT_EQ(out[i], 0) << i;
    EXPECT_EQ(out[7 + 128], 0xEE);  // nothing past what was produced

    EXPECT_EQ(UnpackBits(packed.data(), 0, out), 0);
    const uint8_t onlyNoOps[] = {0x80, 0x80};
    EXPECT_EQ(UnpackBits(onlyNoOps, 2, out), 0);
}

TEST_F(FormatTest, UnpackBitsFillsExactlyOneBlock)
{
    // Four runs of 128 bytes: 512 exactly is fine.
    Bytes packed;
    for (int i = 0; i < 4; ++i) packed.insert(packed.end(), {0x81, static_cast<uint8_t>(i)});
    uint8_t out[kBlock];
    ASSERT_EQ(UnpackBits(packed.data(), static_cast<unsigned>(packed.size()), out), 512);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[511], 3);
}

TEST_F(FormatTest, UnpackBitsRefusesMalformedInputWithinItsBounds)
{
    // Each input lives in a heap buffer of exactly its size, so a read past
    // it is caught; the destination has a guard area after its 512 bytes.
    struct Case {
        const char* what;
        Bytes packed;
    };
    const std::vector<Case> cases = {
        {"literal cut short", {0x05, 'a', 'b'}},
        {"count byte alone", {0x7F}},
        {"run without its byte", {0x81}},
        {"run past the block", {0x81, 1, 0x81, 2, 0x81, 3, 0x81, 4, 0xFF, 5}},
        {"literal past the block", [] {
             Bytes p{0x81, 0, 0x81, 0, 0x81, 0, 0x81 + 1, 0};  // 128 * 3 + 127 = 511 bytes
             p.push_back(0x01);                                 // then a literal of 2
             p.push_back('a');
             p.push_back('b');
             return p;
         }()},
        {"one byte too many", [] {
             Bytes p;
             for (int i = 0; i < 4; ++i) p.insert(p.end(), {0x81, 9});
             p.insert(p.end(), {0x00, 'x'});
             return p;
         }()},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out(kBlock + 64, 0xEE);
        std::vector<uint8_t> packed(c.packed);  // exact size
        EXPECT_EQ(UnpackBits(packed.data(), static_cast<unsigned>(packed.size()), out.data()), -1) << c.what;
        for (size_t i = kBlock; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << c.what << " wrote at " << i;
    }
}

TEST_F(FormatTest, EveryTemplateExpandsToOneWholeBlock)
{
    for (const PackedBlock& t : VolumeTemplate) {
        Bytes packed(t.packed, t.packed + t.packedLength);
        uint8_t out[kBlock];
        EXPECT_EQ(UnpackBits(packed.data(), t.packedLength, out), 512) << "block " << t.block;
    }
}

// ---- the label --------------------------------------------------------------------

TEST_F(FormatTest, LabelIsCutToTwentySevenCharactersAndConverted)
{
    ASSERT_TRUE(SetVolumeLabel("Caf\xE9 \xA9"));
    EXPECT_EQ(VolumeLabel[0], 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(VolumeLabel + 1), 6), "Caf\x8E \xA9");
    for (unsigned i = 7; i < sizeof VolumeLabel; ++i) EXPECT_EQ(VolumeLabel[i], 0) << i;

    ASSERT_TRUE(SetVolumeLabel("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
    EXPECT_EQ(VolumeLabel[0], 27);
    EXPECT_EQ(VolumeLabel[27], '0');
    for (unsigned i = 28; i < sizeof VolumeLabel; ++i) EXPECT_EQ(VolumeLabel[i], 0) << i;
    EXPECT_EQ(StatusCode, 0u);
}

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

// Formats with each label and compares the whole image with the layout;
// blocks the volume does not use keep what they held.
TEST_F(FormatTest, EveryBlockMatchesTheLayoutForLabelsOfEveryLength)
{
    struct Case {
        const char* pcLabel;
        std::string macLabel;
        unsigned rootRecordLength;
    };
    const std::vector<Case> cases = {
        {"A", "A", 78},
        {"Untitled", "Untitled", 86},
        {"Backup 1996", "Backup 1996", 88},
        {"Caf\xE9 \xA9", "Caf\x8E \xA9", 84},
        {"Twenty-seven characters ok!", "Twenty-seven characters ok!", 104},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.macLabel);
        ResetDiskState();
        const Bytes before = Diskette();
        TempImage image(before);
        ASSERT_NE(image.drive, nullptr);
        ASSERT_EQ(image.drive->FormatVolume, FormatDiskette);
        ASSERT_TRUE(SetVolumeLabel(c.pcLabel));
        RecordingWindowSystem ws;

        const uint32_t earliest = MacNow();
        EXPECT_EQ(image.drive->FormatVolume(image.drive), 0);
        const uint32_t latest = MacNow();
        EXPECT_EQ(StatusCode, 0u);

        const Bytes after = ReadImage(image.path);
        ASSERT_EQ(after.size(), before.size());
        const uint32_t now = Get32(after, 2 * kBlock + 2);
        EXPECT_GE(now, earliest);
        EXPECT_LE(now, latest);
        ExpectBlocks(after, ExpectedImage(before, c.macLabel, now));

        // The leaf's record offsets follow the label's length.
        const Bytes leaf = BlockOf(after, 27);
        EXPECT_EQ(Get16(leaf, 508) - Get16(leaf, 510), c.rootRecordLength);
        EXPECT_EQ(Get16(leaf, 506) - Get16(leaf, 508), 54u);
        EXPECT_EQ(Get16(leaf, 504) - Get16(leaf, 506), 116u);
        EXPECT_EQ(Get16(leaf, 504), 14 + c.rootRecordLength + 54 + 116);
        EXPECT_EQ(ws.messages.size(), 1u);  // the warning only
        EXPECT_EQ(image.Slot().faults.writes, kFormatWrites);
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
    // The first drawing is the reset; then one per step, ending full.
    ASSERT_EQ(ws.barPercents.size(), 25u);
    EXPECT_EQ(ws.barPercents.front(), 0u);
    EXPECT_EQ(ws.barPercents[1], 4u);
    EXPECT_EQ(ws.barPercents[6], 25u);
    EXPECT_EQ(ws.barPercents.back(), 100u);
    EXPECT_EQ(ws.pumps, kFormatWrites);  // one before every block
    EXPECT_EQ(ProgressWindow, nullptr);
    EXPECT_TRUE(WaitCursorEnabled);
}

TEST_F(FormatTest, CancelAtTheWarningWritesNothing)
{
    const Bytes before = Diskette();
    TempImage image(before);
    ASSERT_TRUE(SetVolumeLabel("Untitled"));
    RecordingWindowSystem ws;
    ws.okCancelAnswer = kIdCancel;
    EXPECT_EQ(FormatDiskette(image.drive), 2);
    EXPECT_EQ(StatusCode, 0u);
    EXPECT_EQ(ws.messages.size(), 1u);
    EXPECT_EQ(ws.progressOpened, 0u);
    EXPECT_EQ(ws.pumps, 0u);
    EXPECT_EQ(image.Slot().faults.writes, 0u);
    EXPECT_EQ(ReadImage(image.path), before);
}

TEST_F(FormatTest, WithoutAProgressWindowTheVolumeIsStillWritten)
{
    const Bytes before = Diskette();
    TempImage image(before);
    ASSERT_TRUE(SetVolumeLabel("Quiet"));
    RecordingWindowSystem ws;
    ws.showsProgress = false;
    ASSERT_EQ(FormatDiskette(image.drive), 0);
    EXPECT_TRUE(ws.progressItems.empty());
    EXPECT_TRUE(ws.barPercents.empty());
    EXPECT_EQ(ProgressDone, 0u);
    const Bytes after = ReadImage(image.path);
    ExpectBlocks(after, ExpectedImage(before, "Quiet", Get32(after, 2 * kBlock + 2)));
}

// ---- failures and Cancel at every block ----------------------------------------

// Failing the k-th write for every k: one "Can not format disk!", no code
// left behind, the window closed, and only the blocks before the failing one
// written.
TEST_F(FormatTest, AFailedWriteAtAnyBlockStopsThereAndIsReportedOnce)
{
    const std::vector<uint32_t> order = WriteOrder();
    const Bytes before = Diskette();
    for (unsigned k = 1; k <= kFormatWrites; ++k) {
        SCOPED_TRACE("failing write " + std::to_string(k));
        ResetDiskState();  // each image takes a drive table entry
        TempImage image(before);
        ASSERT_TRUE(SetVolumeLabel("Untitled"));
        image.Slot().faults.failWriteAt = k;
        RecordingWindowSystem ws;

        EXPECT_EQ(image.drive->FormatVolume(image.drive), 1);
        EXPECT_EQ(StatusCode, 0u);
        ASSERT_EQ(ws.messages.size(), 2u);
        EXPECT_EQ(ws.messages[1].text, "Can not format disk!");
        EXPECT_EQ(ws.messages[1].caption, "Formatting Error");
        EXPECT_EQ(ws.messages[1].style, kMbOk | kMbIconStop);
        EXPECT_EQ(ws.progressClosed, 1u);
        EXPECT_EQ(ProgressWindow, nullptr);
        EXPECT_TRUE(WaitCursorEnabled);
        EXPECT_EQ(image.Slot().faults.writes, k);

        const Bytes after = ReadImage(image.path);
        const auto formatted = ExpectedBlocks("Untitled", Get32(after, 2 * kBlock + 2));
        for (unsigned i = 0; i < order.size(); ++i) {
            const Bytes want = i + 1 < k ? formatted.at(order[i]) : BlockOf(before, order[i]);
            ASSERT_EQ(BlockOf(after, order[i]), want) << "block " << order[i];
        }
    }
}

// Cancel pressed during the pump before the n-th block: that block is
// written, nothing after it, and nothing is shown.
TEST_F(FormatTest, CancelInTheProgressWindowStopsAfterTheCurrentBlock)
{
    const std::vector<uint32_t> order = WriteOrder();
    const Bytes before = Diskette();
    for (unsigned n = 1; n <= kFormatWrites; ++n) {
        SCOPED_TRACE("cancel at pump " + std::to_string(n));
        ResetDiskState();
        TempImage image(before);
        ASSERT_TRUE(SetVolumeLabel("Untitled"));
        RecordingWindowSystem ws;
        ws.cancelAtPump = n;

        EXPECT_EQ(FormatDiskette(image.drive), 1);
        EXPECT_EQ(StatusCode, 0u);
        EXPECT_EQ(ws.messages.size(), 1u);
        EXPECT_EQ(ws.pumps, n);
        EXPECT_EQ(ws.progressClosed, 1u);
        EXPECT_EQ(image.Slot().faults.writes, n);

        const Bytes after = ReadImage(image.path);
        const auto formatted = ExpectedBlocks("Untitled", Get32(after, 2 * kBlock + 2));
        for (unsigned i = 0; i < order.size(); ++i) {
            const Bytes want = i < n ? formatted.at(order[i]) : BlockOf(before, order[i]);
            ASSERT_EQ(BlockOf(after, order[i]), want) << "block " << order[i];
        }
    }
}

TEST_F(FormatTest, ADriveThatCannotBeWrittenGetsTheFormatErrorAndStaysUnchanged)
{
    const Bytes before = Diskette();
    TempImage image(before, 512, false);
    ASSERT_NE(image.drive, nullptr);
    ASSERT_EQ(image.drive->WriteSectors, nullptr);
    ASSERT_TRUE(SetVolumeLabel("Untitled"));
    RecordingWindowSystem ws;
    EXPECT_EQ(FormatDiskette(image.drive), 1);
    EXPECT_EQ(StatusCode, 0u);
    ASSERT_EQ(ws.messages.size(), 2u);
    EXPECT_EQ(ws.messages[1].text, "Can not format disk!");
    EXPECT_EQ(ReadImage(image.path), before);
}

TEST_F(FormatTest, WriteEmptyVolumeDoesNothingWhileAFailureIsPending)
{
    const Bytes before = Diskette();
    TempImage image(before);
    ASSERT_TRUE(SetVolumeLabel("Untitled"));
    StatusCode = kStatusReadError;
    WriteEmptyVolume(image.drive);
    EXPECT_EQ(StatusCode, kStatusReadError);
    EXPECT_EQ(image.Slot().faults.writes, 0u);
    EXPECT_EQ(ReadImage(image.path), before);
}

// ---- which images can be formatted --------------------------------------------

TEST_F(FormatTest, OnlyAPlainImageOfExactlyOneDisketteGetsTheFormatOperation)
{
    TempImage exact(Bytes(kDisketteBytes, 0), 512, true, "exact.img");
    TempImage larger(Bytes(kDisketteBytes + kBlock, 0), 512, true, "larger.img");
    TempImage smaller(Bytes(kDisketteBytes - kBlock, 0), 512, true, "smaller.img");
    TempImage asCdrom(Bytes(kDisketteBytes, 0), 2048, false, "cd.iso");
    TempImage readOnly(Bytes(kDisketteBytes, 0), 512, false, "locked.img");
    EXPECT_EQ(exact.drive->FormatVolume, FormatDiskette);
    EXPECT_EQ(larger.drive->FormatVolume, nullptr);
    EXPECT_EQ(smaller.drive->FormatVolume, nullptr);
    EXPECT_EQ(asCdrom.drive->FormatVolume, nullptr);
    // The format dispatch refuses a drive it cannot write before it looks at this slot.
    EXPECT_EQ(readOnly.drive->FormatVolume, FormatDiskette);
    EXPECT_EQ(readOnly.drive->WriteSectors, nullptr);

    // A DiskCopy 4.2 image whose data is one diskette is not a plain image.
    Bytes dc42(84 + kDisketteBytes, 0);
    dc42[0] = 4;
    std::memcpy(dc42.data() + 1, "Disk", 4);
    dc42[64] = static_cast<uint8_t>(kDisketteBytes >> 24);
    dc42[65] = static_cast<uint8_t>(kDisketteBytes >> 16);
    dc42[66] = static_cast<uint8_t>(kDisketteBytes >> 8);
    dc42[67] = static_cast<uint8_t>(kDisketteBytes);
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
    EXPECT_EQ(ReadImage(path), Bytes(kDisketteBytes, 0));

    const std::string existing = dir.WriteFile("old.img", Bytes{1, 2, 3});
    EXPECT_FALSE(CreateDisketteImage(existing.c_str()));
    EXPECT_EQ(ReadFileBytes(existing), (Bytes{1, 2, 3}));
    EXPECT_FALSE(CreateDisketteImage(dir.PathOf("no/such/dir/x.img").c_str()));
}

}  // namespace
