// Image files as drives: block mapping over real files in both sector sizes,
// DiskCopy 4.2 images, the end of the data, read-only files and injected faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/bytes.h"
#include "support/temp_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ImageDriveTest : public DiskStateTest {};

Bytes Slice(const Bytes& bytes, size_t offset, size_t size)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

// Reads or writes a run the way the block layer does: call again for the rest
// until the run is done or a call fails. Returns the blocks moved.
uint32_t Run(DriveTransferOp op, DriveEntry* drive, uint8_t* data, uint32_t count, uint32_t first)
{
    uint32_t done = 0;
    for (int guard = 0; done < count && guard < 1000; ++guard) {
        const uint16_t ask = static_cast<uint16_t>(std::min<uint32_t>(count - done, MaxTransferBytes / 512));
        const int32_t moved = op(data + size_t{done} * 512, ask, first + done, drive);
        if (moved <= 0) break;
        done += static_cast<uint32_t>(moved);
    }
    return done;
}
uint32_t ReadRun(DriveEntry* drive, Bytes& out, uint32_t count, uint32_t first)
{
    out.assign(size_t{count} * 512, 0);
    return Run(drive->ReadSectors, drive, out.data(), count, first);
}
uint32_t WriteRun(DriveEntry* drive, Bytes data, uint32_t first)
{
    return Run(drive->WriteSectors, drive, data.data(), static_cast<uint32_t>(data.size() / 512), first);
}

// A DiskCopy image's data checksum, written here from the format's
// description independently of the program's code.
uint32_t ReferenceDataChecksum(const Bytes& data)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < data.size(); i += 2) {
        sum = (sum + (static_cast<unsigned>(data[i]) * 256 + data[i + 1])) & 0xFFFFFFFF;
        sum = (sum >> 1) + ((sum & 1) << 31);
    }
    return static_cast<uint32_t>(sum);
}

Bytes MakeDiskCopy(const Bytes& data, const Bytes& tags)
{
    Bytes image(84, 0);
    const char name[] = "Test Disk";
    image[0] = sizeof name - 1;
    std::memcpy(image.data() + 1, name, sizeof name - 1);
    PutU32(static_cast<uint32_t>(data.size()), &image[64]);
    PutU32(static_cast<uint32_t>(tags.size()), &image[68]);
    PutU32(ReferenceDataChecksum(data), &image[72]);
    PutU32(0x12345678, &image[76]);  // the tag checksum is never touched
    image[80] = 1;                    // 800K
    image[81] = 0x22;
    image[82] = 0x01;
    image[83] = 0x00;
    image.insert(image.end(), data.begin(), data.end());
    image.insert(image.end(), tags.begin(), tags.end());
    return image;
}

// ---- opening and naming ------------------------------------------------------

TEST_F(ImageDriveTest, OpenRefusesWhatItCannotServe)
{
    TempDir dir;
    const std::string path = dir.WriteFile("x.img", PatternBytes(4096));
    EXPECT_EQ(OpenImage(path.c_str(), 1024, false), -1);
    EXPECT_EQ(OpenImage(dir.PathOf("missing.img").c_str(), 512, true), -1);
    EXPECT_EQ(OpenImage(std::string(2000, 'x').c_str(), 512, false), -1);

    for (unsigned i = 0; i < kMaxImages; ++i) EXPECT_EQ(OpenImage(path.c_str(), 512, false), static_cast<int>(i));
    EXPECT_EQ(OpenImage(path.c_str(), 512, false), -1);
    CloseImage(7);
    EXPECT_FALSE(ImageTable[7].used);
    EXPECT_EQ(OpenImage(path.c_str(), 512, false), 7);

    // With the drive table full an image gets a slot but no drive.
    ResetProgramState();
    for (unsigned i = 0; i < kMaxDrives; ++i) {
        BeginDriveEntry();
        CommitDriveEntry();
    }
    TempImage image(PatternBytes(512));
    EXPECT_GE(image.slot, 0);
    EXPECT_EQ(image.drive, nullptr);
    EXPECT_EQ(DriveCount, kMaxDrives);
    EXPECT_EQ(AddImageDrive(-1), nullptr);
    EXPECT_EQ(AddImageDrive(static_cast<int>(kMaxImages)), nullptr);
}

// ---- mapping over a real file --------------------------------------------------

TEST_F(ImageDriveTest, OffsetsBeyondFourGibibytes)
{
    TempImage image(Bytes{});
    std::error_code error;
    std::filesystem::resize_file(image.path, 5ull << 30, error);  // sparse where the file system allows
    if (error) GTEST_SKIP() << "cannot make a 5 GiB file here";
    CloseImage(image.slot);
    ResetProgramState();
    image.slot = OpenImage(image.path.c_str(), 2048, true);
    image.drive = AddImageDrive(image.slot);
    ASSERT_NE(image.drive, nullptr);

    const uint32_t block = (9u << 20) + 3;  // byte offset 4.5 GiB + 1.5 KiB
    const Bytes data = PatternBytes(3 * 512, 3);
    EXPECT_EQ(WriteRun(image.drive, data, block), 3u);
    Bytes back;
    EXPECT_EQ(ReadRun(image.drive, back, 3, block), 3u);
    EXPECT_EQ(back, data);
    // Nothing landed where a 32-bit offset would have put it.
    EXPECT_EQ(ReadRun(image.drive, back, 3, block & 0x7FFFFF), 3u);
    EXPECT_EQ(back, Bytes(3 * 512, 0));
    std::filesystem::resize_file(image.path, 0, error);
}

// ---- the end of the data ---------------------------------------------------------

// ---- DiskCopy 4.2 images -----------------------------------------------------------

TEST_F(ImageDriveTest, DiskCopyImageShowsOnlyItsDataAndGetsItsChecksumAtClose)
{
    const Bytes tags(64 * 12, 0x5C);
    for (uint32_t sectorSize : {512u, 2048u}) {
        ResetProgramState();
        Bytes data = PatternBytes(64 * 512, 7 + sectorSize);
        const Bytes file = MakeDiskCopy(data, tags);
        TempImage image(file, sectorSize);
        ASSERT_NE(image.drive, nullptr);
        EXPECT_TRUE(image.Slot().diskCopy);
        EXPECT_EQ(image.Slot().dataOffset, 84u);
        EXPECT_EQ(image.Slot().dataLength, data.size());
        Bytes out;
        EXPECT_EQ(ReadRun(image.drive, out, 64, 0), 64u);
        EXPECT_EQ(out, data);
        EXPECT_EQ(ReadRun(image.drive, out, 4, 64), 0u);
        EXPECT_EQ(StatusCode, kStatusReadError);
        StatusCode = 0;
        EXPECT_EQ(WriteRun(image.drive, Bytes(4 * 512, 1), 64), 0u);
        EXPECT_EQ(image.Bytes(), file);
        StatusCode = 0;

        const Bytes patch = PatternBytes(3 * 512, 9 + sectorSize);
        EXPECT_EQ(WriteRun(image.drive, patch, 61), 3u);
        std::copy(patch.begin(), patch.end(), data.begin() + 61 * 512);
        EXPECT_EQ(Slice(image.Bytes(), 0, 84), Slice(file, 0, 84));  // the header waits for the close
        CloseImage(image.slot);
        const Bytes after = image.Bytes();
        EXPECT_EQ(GetU32(&after[72]), ReferenceDataChecksum(data));
        EXPECT_NE(GetU32(&after[72]), GetU32(&file[72]));
        EXPECT_EQ(after, MakeDiskCopy(data, tags));  // only the data and its checksum changed

        // Only read, an image keeps even a wrong checksum.
        Bytes wrong = file;
        PutU32(0xDEADBEEF, &wrong[72]);
        TempImage unwritten(wrong, sectorSize, true, "unwritten.img");
        EXPECT_EQ(ReadRun(unwritten.drive, out, 64, 0), 64u);
        CloseImage(unwritten.slot);
        EXPECT_EQ(unwritten.Bytes(), wrong);
    }
}

// ---- read-only files -----------------------------------------------------------------

TEST_F(ImageDriveTest, ReadOnlyImageIsNeverWritten)
{
    const Bytes file = PatternBytes(8 * 512, 12);
    TempImage image(file, 512, false);
    EXPECT_FALSE(image.Slot().writable);
    EXPECT_EQ(image.drive->WriteSectors, nullptr);
    std::memcpy(SectorBuffer, PatternBytes(512, 13).data(), 512);
    EXPECT_LE(ImageWriteSectors(SectorBuffer, 1, 0, image.drive), 0);
    EXPECT_EQ(image.Bytes(), file);
}

// ---- injected faults -----------------------------------------------------------------

TEST_F(ImageDriveTest, FailingEachCallOfARunInTurn)
{
    const Bytes file = PatternBytes(64 * 512, 21);
    const Bytes data = PatternBytes(30 * 512, 22);
    for (uint32_t k = 1; k <= 12; ++k) {
        ResetProgramState();
        TempImage image(file, 2048);
        image.Slot().faults.maxSectorsPerCall = 2;
        image.Slot().faults.failWriteAt = k;
        image.Slot().faults.failReadAt = k;
        const uint32_t wrote = WriteRun(image.drive, data, 3);
        const bool failed = wrote < 30;
        EXPECT_EQ(StatusCode, failed ? kStatusWriteError : 0u) << k;
        // Whatever was reported written is on the image, the rest is untouched.
        Bytes expected = file;
        std::copy(data.begin(), data.begin() + wrote * 512, expected.begin() + 3 * 512);
        EXPECT_EQ(image.Bytes(), expected) << k;
    }
}

}  // namespace
