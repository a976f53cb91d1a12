// Drives: the drive table and the block-to-sector mapping over an in-memory
// device that records every call and can fail or come up short; image files
// in both sector sizes and injected faults (DiskCopy 4.2 images are
// image_drive_corpus_test's); the Windows device layers and their discovery
// over simulated devices; and the remembered clean check, which must never
// outlive the image state it was made on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/check_memory.h"
#include "disk/discovery.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "disk/windows_devices.h"
#include "hfs/format.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "hfs/volume_scan.h"
#include "platform/platform.h"
#include "support/simulated_devices.h"
#include "support/temp_image.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct DeviceCall {
    char op;  // 'r' or 'w'
    uint32_t count;
    uint32_t first;
    bool operator==(const DeviceCall&) const = default;
};

// One fake device at a time; its sectors are `sectorSize` bytes of `bytes`.
struct FakeDevice {
    Bytes bytes;
    uint32_t sectorSize = 2048;
    uint32_t failReadAt = 0;   // 1-based device read that fails
    uint32_t failWriteAt = 0;
    int32_t failValue = 0;     // what a failing call returns (0 or negative)
    uint32_t maxSectors = 0;   // short transfers; 0 no limit
    int32_t claimExtra = 0;    // added to the count a successful call reports
    std::vector<DeviceCall> calls;
    uint32_t reads = 0;
    uint32_t writes = 0;
};
FakeDevice Dev;

// A device read ('r') or write ('w') of whole sectors.
int32_t FakeTransfer(char op, uint8_t* buffer, uint32_t count, uint32_t first)
{
    Dev.calls.push_back({op, count, first});
    if (op == 'r' ? ++Dev.reads == Dev.failReadAt : ++Dev.writes == Dev.failWriteAt) {
        // A failing device may still have scribbled over the staging buffer.
        if (op == 'r') std::memset(buffer, 0xA5, count * Dev.sectorSize);
        return Dev.failValue;
    }
    const uint32_t total = static_cast<uint32_t>(Dev.bytes.size() / Dev.sectorSize);
    uint32_t n = first >= total ? 0 : std::min(count, total - first);
    if (Dev.maxSectors) n = std::min(n, Dev.maxSectors);
    uint8_t* medium = Dev.bytes.data() + size_t{first} * Dev.sectorSize;
    std::memcpy(op == 'r' ? buffer : medium, op == 'r' ? medium : buffer, size_t{n} * Dev.sectorSize);
    return static_cast<int32_t>(n) + (n ? Dev.claimExtra : 0);
}
int32_t FakeRead(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry*)
{
    return FakeTransfer('r', buffer, count, first);
}
int32_t FakeWrite(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry*)
{
    return FakeTransfer('w', buffer, count, first);
}

class DriveTableTest : public DiskStateTest {};

class MappedIoTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        Dev = FakeDevice{};
        Dev.bytes = PatternBytes(64 * 2048);
        entry.BlocksPerSector = 4;
    }
    int32_t Read(Bytes& out, uint16_t count, uint32_t first)
    {
        return MappedReadBlocks(out.data(), count, first, &entry, FakeRead);
    }
    int32_t Write(const Bytes& in, uint16_t count, uint32_t first)
    {
        return MappedWriteBlocks(in.data(), count, first, &entry, FakeRead, FakeWrite);
    }
    DriveEntry entry{};
};

TEST_F(DriveTableTest, NewEntryIsZeroedAndTheTableStopsAtTwenty)
{
    std::memset(static_cast<void*>(DriveTable), 0x5A, sizeof DriveTable);
    for (unsigned i = 0; i < 21; ++i) {
        DriveEntry* e = BeginDriveEntry();
        EXPECT_TRUE(e->Flags == 0 && !e->ReadSectors && !e->WriteSectors && !e->FormatVolume && !e->Name[0]) << i;
        e->Unit = i;
        std::snprintf(e->Name, sizeof e->Name, "drive %u", i);
        CommitDriveEntry();
    }
    EXPECT_EQ(DriveCount, 20u);
    for (unsigned i = 0; i < 20; ++i) EXPECT_EQ(DriveTable[i].Unit, i);
    // The 21st was built after the last listed entry and dropped.
    EXPECT_STREQ(DriveTable[20].Name, "drive 20");
    // Even with a count past the limit, a new entry stays inside the table.
    DriveCount = 59;
    EXPECT_EQ(BeginDriveEntry(), &DriveTable[20]);
    // A drive that cannot tell its sector size has 512 bytes, and is no diskette.
    DriveEntry e{};
    e.BlocksPerSector = 4;
    EXPECT_EQ(DriveSectorSize(&e), 512u);
    EXPECT_FALSE(IsDisketteDrive(&e));
}

TEST_F(MappedIoTest, TransfersStayInsideTheSectorBuffer)
{
    // A caller asking for far more than the buffer holds, and a device
    // claiming more than it was asked for, still move at most what fits.
    entry.BlocksPerSector = 8;
    Dev.sectorSize = 4096;
    Dev.bytes = PatternBytes(64 * 4096);
    Dev.claimExtra = 100;
    Bytes out(65535 * 512);
    EXPECT_EQ(Read(out, 65535, 0), 72);
    EXPECT_EQ(Dev.calls.back(), (DeviceCall{'r', 9, 0}));
    EXPECT_EQ(Write(out, 65535, 0), 72);
    EXPECT_EQ(Dev.calls.back(), (DeviceCall{'w', 9, 0}));
    // A block factor the buffer cannot stage is refused without a device call.
    Dev.calls.clear();
    for (uint16_t f : {0, 73}) {
        entry.BlocksPerSector = f;
        StatusCode = 0;
        EXPECT_EQ(Read(out, 1, 0), 0);
        EXPECT_EQ(StatusCode, kStatusReadError);
        EXPECT_EQ(Write(out, 1, 0), 0);
        EXPECT_EQ(StatusCode, kStatusWriteError);
    }
    EXPECT_TRUE(Dev.calls.empty());
}

TEST_F(MappedIoTest, WritesPatchPartlyCoveredSectorsAndReportWhatOneCallWrote)
{
    struct Case {
        const char* what;
        uint16_t blocksPerSector;
        uint32_t maxSectors;
        uint16_t count;
        uint32_t first;
        int32_t moved;
        std::vector<DeviceCall> calls;
    };
    const Case cases[] = {
        {"inside a sector: read, patch, write back", 4, 0, 3, 5, 3, {{'r', 1, 1}, {'w', 1, 1}}},
        {"whole sectors and a tail: the sectors first", 4, 0, 6, 4, 4, {{'w', 1, 1}}},
        {"the tail", 4, 0, 2, 8, 2, {{'r', 1, 2}, {'w', 1, 2}}},
        {"whole sectors need no read", 4, 0, 8, 16, 8, {{'w', 2, 4}}},
        {"a block factor of 1: every block is a sector", 1, 0, 3, 7, 3, {{'w', 3, 7}}},
        {"a short device write", 4, 1, 12, 0, 4, {{'w', 3, 0}}},
    };
    uint32_t seed = 0;
    for (const Case& c : cases) {
        Dev = FakeDevice{};
        Dev.sectorSize = 512u * c.blocksPerSector;
        Dev.bytes = PatternBytes(64 * 2048);
        Dev.maxSectors = c.maxSectors;
        entry.BlocksPerSector = c.blocksPerSector;
        const Bytes data = PatternBytes(size_t{c.count} * 512, ++seed);
        Bytes expected = Dev.bytes;
        std::copy(data.begin(), data.begin() + c.moved * 512, expected.begin() + c.first * 512);
        EXPECT_EQ(Write(data, c.count, c.first), c.moved) << c.what;
        EXPECT_EQ(Dev.calls, c.calls) << c.what;
        EXPECT_EQ(Dev.bytes, expected) << c.what;
        EXPECT_EQ(StatusCode, 0u) << c.what;
    }
}

TEST_F(MappedIoTest, FailedWriteOrPreliminaryReadSetsStatus4)
{
    // The read of a partly covered sector fails (nothing is written), or the
    // write itself fails, of whole sectors or patched.
    const Bytes before = Dev.bytes;
    for (int32_t failValue : {0, -2}) {
        for (const auto& [failRead, count, first] : {std::tuple{true, 2, 1}, {false, 4, 0}, {false, 4, 1}}) {
            Dev = FakeDevice{};
            Dev.bytes = before;
            (failRead ? Dev.failReadAt : Dev.failWriteAt) = 1;
            Dev.failValue = failValue;
            StatusCode = 0;
            EXPECT_EQ(Write(Bytes(count * 512, 0x66), static_cast<uint16_t>(count), first), 0);
            EXPECT_EQ(StatusCode, kStatusWriteError);
            EXPECT_EQ(Dev.writes, failRead ? 0u : 1u);
            EXPECT_EQ(Dev.bytes, before);
        }
    }
}

class ImageDriveTest : public DiskStateTest {};

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

// A listed image (discovery, Open Disk Image) holds its file and lock only
// while its drive is the one in use; a written DiskCopy image gets its
// checksum when it is let go.
TEST_F(ImageDriveTest, ListedImagesAreOpenOnlyWhileTheirDriveIsInUse)
{
    TempDir dir;
    Bytes diskCopy(84, 0);
    diskCopy[65] = 0x08;  // 2048 bytes of data, stored checksum 0
    diskCopy[82] = 0x01;
    const Bytes data = PatternBytes(2048, 9);
    diskCopy.insert(diskCopy.end(), data.begin(), data.end());
    const std::string a = dir.WriteFile("a.image", diskCopy), b = dir.WriteFile("b.img", PatternBytes(4096));
    ImageLockWaitMs = 0;
    DriveEntry* da = AddImageDrive(ListImage(a.c_str(), 512, true));
    DriveEntry* db = AddImageDrive(ListImage(b.c_str(), 512, true));
    ASSERT_TRUE(da && db);
    EXPECT_EQ(OthersLock(a), FileLockResult::Locked);
    EXPECT_EQ(OthersLock(b), FileLockResult::Locked);
    Bytes out;
    EXPECT_EQ(ReadRun(da, out, 1, 0), 0u) << "not in use";
    StatusCode = 0;

    ASSERT_EQ(UseImageDrive(da), 0);
    EXPECT_NE(DriveImageWarning(da), nullptr) << "the stored checksum is wrong";
    EXPECT_EQ(WriteRun(da, PatternBytes(1024, 4), 0), 2u);
    // Which of two is held as the other is chosen: MainWindowTest.OnlyTheChosenImageIsHeld.
    ASSERT_EQ(UseImageDrive(db), 0);
    ASSERT_EQ(UseImageDrive(da), 0);
    EXPECT_EQ(DriveImageWarning(da), nullptr) << "the checksum was written when it was let go";

    // Held by another program: refused, and nothing stays open.
    const FileHandle held = FileOpen(b.c_str(), FileMode::ReadWrite);
    ASSERT_EQ(FileLock(held, true, 0), FileLockResult::Locked);
    EXPECT_EQ(UseImageDrive(db), kImageInUse);
    EXPECT_EQ(OthersLock(a), FileLockResult::Locked);
    FileClose(held);
    ASSERT_EQ(UseImageDrive(db), 0);
    ReleaseListedImages();
    EXPECT_EQ(OthersLock(b), FileLockResult::Locked);
}

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

// ---- the Windows device layers, over simulated devices ----

constexpr char kFloppyA[] = "\\\\.\\a:";
constexpr char kCdromE[] = "\\\\.\\E:";
constexpr char kPhysical1[] = "\\\\.\\PhysicalDrive1";

class WindowsDeviceTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        InstallSimulatedDevices();
    }
    void TearDown() override
    {
        EXPECT_EQ(Sim.openHandles, 0) << "every call closes what it opened";
        DiskStateTest::TearDown();
    }
};

TEST_F(WindowsDeviceTest, TransfersAnswerTheirResultCodesAndNeverReachTwoGibibytes)
{
    enum Op { FloppyRead, FloppyWrite, CdRead, PhysicalRead, PhysicalWrite, kOps };
    const char* devices[kOps] = {kFloppyA, kFloppyA, kCdromE, kPhysical1, kPhysical1};
    const uint32_t factor[kOps] = {1, 1, 4, 1, 1};
    const bool writes[kOps] = {false, true, false, false, true};
    // How each opens its device: access, sharing, disposition.
    const char* opens[kOps] = {"80000000 0 3", "C0000000 0 3", "80000000 3 3", "80000000 3 3", "40000000 3 3"};
    const auto call = [&](int op, uint8_t* buffer, uint32_t count, uint32_t first) {
        switch (op) {
        case FloppyRead: return FloppyReadNt(buffer, count, first, 0);
        case FloppyWrite: return FloppyWriteNt(buffer, count, first, 0);
        case CdRead: return CdromReadSectors(buffer, count, first, 4, 4);
        case PhysicalRead: return PhysicalReadSectors(buffer, count, first, 1, 1);
        default: return PhysicalWriteSectors(buffer, count, first, 1, 1);
        }
    };
    struct Case {
        const char* what;
        uint64_t position;  // bytes
        uint32_t count;     // device sectors (CD-ROM: a quarter of these, rounded up)
        void (*setUp)(SimDevice&);
        int32_t expected[kOps];
    };
    const auto none = [](SimDevice&) {};
    const Case cases[] = {
        {"a whole transfer", 6144, 8, none, {8, 8, 2, 8, 8}},
        {"no device", 0, 1, [](SimDevice& d) { d.bytes.clear(); }, {-1, -1, -1, -1, -1}},
        {"the lock refused (CD-ROMs take none)", 0, 4, [](SimDevice& d) { d.lockFails = true; },
         {-2, -2, 1, -2, -2}},
        {"byte 2^31", 1ull << 31, 4, none, {-3, -3, -3, -3, -3}},
        {"a position whose 32-bit product would be 2048", (1ull << 32) + 2048, 4, none, {-3, -3, -3, -3, -3}},
        {"the transfer fails", 0, 4, [](SimDevice& d) { d.readFails = d.writeFails = true; },
         {-4, -4, -4, -4, -4}},
        {"nothing moves at the end of the medium", 64 * 2048, 4, none, {-4, -4, -4, -4, -4}},
        {"a short transfer counts whole sectors", 0, 8, [](SimDevice& d) { d.maxBytesPerCall = 3584; },
         {7, 7, 1, 7, 7}},
    };
    for (const Case& c : cases) {
        for (int op = 0; op < kOps; ++op) {
            SCOPED_TRACE(std::string(c.what) + ", op " + std::to_string(op));
            InstallSimulatedDevices();
            const Bytes original = PatternBytes(64 * 2048, 5);
            Sim.devices[devices[op]].bytes = original;
            c.setUp(Sim.devices[devices[op]]);
            if (Sim.devices[devices[op]].bytes.empty()) Sim.devices.erase(devices[op]);
            const uint32_t count = op == CdRead ? (c.count + 3) / 4 : c.count;
            const uint32_t first = static_cast<uint32_t>(c.position / (512 * factor[op]));
            Bytes buffer = PatternBytes(size_t{count} * 512 * factor[op], 6);
            const Bytes data = buffer;
            const int32_t result = call(op, buffer.data(), count, first);
            ASSERT_EQ(result, c.expected[op]);
            EXPECT_EQ(Sim.log[0], "open " + std::string(devices[op]) + " " + opens[op]);
            EXPECT_EQ(Sim.Count("ioctl 90018"), Sim.Count("ioctl 9001C") + (result == -2 ? 1u : 0u)) << "unlocked";
            if (result == -3) {
                EXPECT_EQ(Sim.Count("seek") + Sim.Count("read") + Sim.Count("write"), 0u);
            }
            if (!Sim.devices.count(devices[op])) continue;
            Bytes expected = original;
            if (writes[op] && result > 0)
                std::copy(data.begin(), data.begin() + result * 512, expected.begin() + c.position);
            EXPECT_EQ(Sim.devices[devices[op]].bytes, expected);
            if (!writes[op] && result > 0) {
                EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + result * 512 * factor[op],
                                       original.begin() + c.position));
            }
        }
    }
}

TEST_F(WindowsDeviceTest, DisketteAndCdromPresence)
{
    // The NT test: the media types, or, where the device knows none (a drive
    // letter mapped to an image file), a removable drive holding 1.44 MB.
    struct NtCase {
        const char* what;
        std::vector<uint32_t> types;
        bool typesKnown;
        uint32_t driveType;
        uint64_t length;
        bool present;
    };
    const NtCase nt[] = {
        {"1.44 MB among the types", {5, 2}, true, 2, 0, true},
        {"720 KB only", {5}, true, 2, 1474560, false},
        {"no types, a removable 1.44 MB image", {}, false, 2, 1474560, true},
        {"only unknown media (Wine), a removable 1.44 MB image", {0}, true, 2, 1474560, true},
        {"only unknown media, a removable 720 KB image", {0}, true, 2, 737280, false},
        {"no types, a removable 720 KB image", {}, false, 2, 737280, false},
        {"no types, a fixed drive", {}, false, 3, 1474560, false},
    };
    for (const NtCase& c : nt) {
        InstallSimulatedDevices();
        SimDevice& a = Sim.devices[kFloppyA];
        a.mediaTypes = c.types;
        a.mediaTypesKnown = c.typesKnown;
        a.length = c.length;
        Sim.driveTypes["A:\\"] = c.driveType;
        EXPECT_EQ(FloppyPresentNt(0), c.present) << c.what;
        EXPECT_EQ(Sim.log[0], std::string("open ") + kFloppyA + " 0 1 4") << "no access, OPEN_ALWAYS";
    }
    InstallSimulatedDevices();
    EXPECT_FALSE(FloppyPresentNt(1)) << "no drive B";
    Sim.failCallAt = 2;
    Sim.devices[kFloppyA].mediaTypes = {2};
    EXPECT_FALSE(FloppyPresentNt(0)) << "the media-types call fails";

    // VWIN32: the DOS device parameters of a high-density drive.
    struct NineCase {
        uint16_t cylinders, sectorsPerTrack;
        bool carry;
        bool present;
    };
    for (const NineCase& c : {NineCase{80, 18, false, true}, {80, 9, false, false}, {79, 18, false, false},
                              {80, 18, true, false}}) {
        InstallSimulatedDevices();
        Vwin32Registers seen{};
        Sim.vwin32 = [&](uint32_t code, Vwin32Registers& r) {
            EXPECT_EQ(code, 1u);
            seen = r;
            Vwin32DeviceParameters[4] = static_cast<uint8_t>(c.cylinders);
            Vwin32DeviceParameters[20] = static_cast<uint8_t>(c.sectorsPerTrack);
            if (c.carry) r.flags |= 1;
            else r.flags &= ~1u;
            return true;
        };
        EXPECT_EQ(FloppyPresentVwin32(1), c.present) << c.cylinders << " " << c.sectorsPerTrack;
        EXPECT_EQ(Sim.log[0], "open \\\\.\\vwin32 80000000 3 3");
        EXPECT_EQ(seen.eax, 0x440Du);
        EXPECT_EQ(seen.ebx, 2u) << "B: is 2";
        EXPECT_EQ(seen.ecx, 0x0860u);
        EXPECT_EQ(seen.edx, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Vwin32DeviceParameters)));
    }
    InstallSimulatedDevices();
    EXPECT_FALSE(FloppyPresentVwin32(0)) << "no VWIN32 device";

    Sim.driveTypes = {{"E:", 5}, {"F:", 2}};
    EXPECT_TRUE(CdromPresent(4));
    EXPECT_FALSE(CdromPresent(5));
    EXPECT_FALSE(CdromPresent(6));
}

// A physical drive of `bytes` holding a partition map when `mac`.
SimDevice PhysicalDrive(uint32_t media, uint64_t bytes, bool mac)
{
    SimDevice d;
    d.media = media;
    d.heads = 255;
    d.sectorsPerTrack = 63;
    d.cylinders = static_cast<uint32_t>(bytes / (255 * 63 * 512));
    d.length = bytes;
    d.bytes.assign(64 * 512, 0);
    if (mac) {
        d.bytes[512] = 'P';
        d.bytes[513] = 'M';
    }
    return d;
}

TEST_F(WindowsDeviceTest, DiscoveryOrderNamesAndTheTwentyDriveLimit)
{
    Prefs.AddASPI = Prefs.AddBIOS = Prefs.AddCDROM = Prefs.AddFloppy = 1;
    WindowsVersion = 0x0A28;  // NT
    Sim.devices["\\\\.\\PhysicalDrive0"] = PhysicalDrive(kMediaFixed, 80ull << 30, false);  // the PC's own disk
    Sim.devices[kPhysical1] = PhysicalDrive(kMediaFixed, 1ull << 30, true);
    Sim.devices["\\\\.\\PhysicalDrive2"] = PhysicalDrive(kMediaRemovable, 5ull << 30, false);  // a card reader
    Sim.devices["\\\\.\\PhysicalDrive3"] = PhysicalDrive(0, 1ull << 30, true);                  // no geometry
    Sim.driveTypes["E:"] = kDriveCdrom;
    Sim.devices[kCdromE].bytes = PatternBytes(4 * 2048, 3);
    Sim.devices[kFloppyA].mediaTypes = {2};
    Sim.devices[kFloppyA].bytes = PatternBytes(2880 * 512, 4);
    DiscoverDrives();
    std::vector<std::string> names;
    for (uint32_t i = 0; i < DriveCount; ++i) names.push_back(DriveTable[i].Name);
    EXPECT_EQ(names, (std::vector<std::string>{"[DRIVE 1] (1.0G)", "[DRIVE 2] (>4G)", "[CDROM E]", "[DISKETTE A]"}));
    ASSERT_EQ(DriveCount, 4u);
    EXPECT_TRUE(DriveTable[0].WriteSectors && !DriveTable[0].FormatVolume);
    EXPECT_TRUE(!DriveTable[2].WriteSectors && DriveTable[2].BlocksPerSector == 4);
    EXPECT_TRUE(DriveTable[3].WriteSectors && DriveTable[3].FormatVolume == DisketteImageFormatter);
    EXPECT_TRUE(IsDisketteDrive(&DriveTable[3]));
    EXPECT_EQ(DriveBlockCount(&DriveTable[1]), (5ull << 30) / 512) << "the exact length, not the geometry's";
    EXPECT_EQ(Sim.openHandles, 0);

    // One 512-byte block of a CD-ROM reads its whole 2048-byte sector; the
    // diskette reads the blocks it is asked for.
    Bytes out(512);
    EXPECT_EQ(DriveTable[2].ReadSectors(out.data(), 1, 5, &DriveTable[2]), 1);
    EXPECT_EQ(Sim.log.back(), "close");
    EXPECT_EQ(Sim.Count("read 2048"), 1u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), Sim.devices[kCdromE].bytes.begin() + 5 * 512));
    Bytes three(3 * 512);
    EXPECT_EQ(DriveTable[3].ReadSectors(three.data(), 3, 7, &DriveTable[3]), 3);
    EXPECT_EQ(three, Sim.Bytes(kFloppyA, 7 * 512, 3 * 512));
    Sim.devices[kFloppyA].readFails = true;
    EXPECT_EQ(DriveTable[3].ReadSectors(three.data(), 3, 7, &DriveTable[3]), 0);
    EXPECT_EQ(StatusCode, kStatusReadError);
    StatusCode = 0;

    // The 9x family: no physical drives or CD-ROM letters; the diskette
    // through VWIN32.
    WindowsVersion = 0x80000004u;
    Sim.vwin32 = [](uint32_t code, Vwin32Registers& r) {
        r.flags = 0;
        if (code == kVwin32DosIoctl) {
            Vwin32DeviceParameters[4] = 80;
            Vwin32DeviceParameters[20] = r.ebx == 1 ? 18 : 9;  // A: high density, B: not
        } else if (code == kVwin32AbsoluteRead) {
            // The packet: first sector, count; the data as a pattern of both.
            const uint32_t first = Vwin32DiskPacket[0] | Vwin32DiskPacket[1] << 8;
            std::memset(SectorBuffer, static_cast<int>(first + Vwin32DiskPacket[4]), Vwin32DiskPacket[4] * 512u);
            return r.eax == 0 && r.ecx == 0xFFFF &&
                   r.ebx == static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Vwin32DiskPacket));
        }
        return true;
    };
    DiscoverDrives();
    ASSERT_EQ(DriveCount, 1u);
    EXPECT_STREQ(DriveTable[0].Name, "[DISKETTE A]");
    EXPECT_EQ(DriveTable[0].ReadSectors(three.data(), 2, 9, &DriveTable[0]), 2);
    EXPECT_EQ(three[0], 11);
    EXPECT_EQ(StatusCode, 0u);

    // 26 removable drives and a diskette: the first 20 are listed.
    WindowsVersion = 0;
    for (int n = 0; n < 26; ++n)
        Sim.devices["\\\\.\\PhysicalDrive" + std::to_string(n)] = PhysicalDrive(kMediaRemovable, 1ull << 30, false);
    DiscoverDrives();
    ASSERT_EQ(DriveCount, 20u);
    EXPECT_STREQ(DriveTable[19].Name, "[DRIVE 19] (1.0G)");
}

// Formatting a real diskette: the formatter's blocks go through the diskette
// drive's own writes, and the result mounts and checks clean.
TEST_F(WindowsDeviceTest, ADisketteDriveFormatsThroughItsWrites)
{
    Prefs.AddFloppy = 1;
    Sim.devices[kFloppyA].mediaTypesKnown = false;  // a mapped image, as under Wine
    const Bytes before = PatternBytes(1474560, 8);
    Sim.devices[kFloppyA].bytes = before;
    Sim.driveTypes["A:\\"] = kDriveRemovable;
    DiscoverDrives();
    ASSERT_EQ(DriveCount, 1u);
    ASSERT_NE(DriveTable[0].FormatVolume, nullptr);
    ASSERT_TRUE(SetVolumeLabel("Fresh"));
    EXPECT_EQ(DriveTable[0].FormatVolume(&DriveTable[0]), 0);
    EXPECT_EQ(Sim.Count("write 512"), 50u) << "boot blocks, 41 empty nodes, 7 templates, one block a call";
    MacDriveIndex = 0;
    SelectMacDrive(MainWindow);
    ASSERT_EQ(MacPaneState.count, 1u);
    ASSERT_TRUE(OpenListedVolume(0));
    EXPECT_EQ(MacString(MacVolume.mdb->data + 36), "Fresh");
    std::vector<std::string> problems;
    EXPECT_EQ(CheckVolume(&problems), 0) << (problems.empty() ? "" : problems[0]);
    // Blocks the empty volume does not use keep what the diskette held.
    EXPECT_EQ(Sim.Bytes(kFloppyA, 100 * 512, 512), Bytes(before.begin() + 100 * 512, before.begin() + 101 * 512));
}

class CheckMemoryTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        if (const char* old = std::getenv(kVariable)) saved_ = old;
        SetVariable(cache_.Path().c_str());
    }
    void TearDown() override
    {
        SetVariable(saved_ ? saved_->c_str() : nullptr);
        DiskStateTest::TearDown();
    }

#ifdef _WIN32
    static constexpr const char* kVariable = "LOCALAPPDATA";
    static void SetVariable(const char* value) { _putenv_s(kVariable, value ? value : ""); }
#else
    static constexpr const char* kVariable = "XDG_CACHE_HOME";
    static void SetVariable(const char* value) { value ? setenv(kVariable, value, 1) : unsetenv(kVariable); }
#endif

    TempDir cache_;
    std::optional<std::string> saved_;
};

TEST_F(CheckMemoryTest, HoldsOnlyForTheImageStateItWasMadeOn)
{
    TempImage image(PatternBytes(64 * 512));
    ASSERT_NE(image.drive, nullptr);
    const uint8_t byte = 0x5A;
    EXPECT_FALSE(CleanCheckRemembered(image.drive, 0)) << "nothing recorded yet";
    RememberCleanCheck(image.drive, 0);
    EXPECT_TRUE(CleanCheckRemembered(image.drive, 0));
    EXPECT_FALSE(CleanCheckRemembered(image.drive, 16)) << "another volume of the file";
    // Any write to the file, even one far from the master block.
    ASSERT_EQ(FileWriteAt(image.Slot().file, &byte, 1, 40 * 512), 1);
    EXPECT_FALSE(CleanCheckRemembered(image.drive, 0));
    // A record whose own time is not after the image's last change could
    // hide a write made in the same clock tick as ours.
    RememberCleanCheck(image.drive, 0);
    ASSERT_TRUE(CleanCheckRemembered(image.drive, 0));
    FileIdentity file{};
    ASSERT_TRUE(GetFileIdentity(image.Slot().file, &file));
    std::string record;
    ListDir((cache_.PathOf("quaylink")).c_str(),
            [](const DirEntry& entry, void* name) {
                *static_cast<std::string*>(name) = entry.name;
                return true;
            },
            &record);
    ASSERT_FALSE(record.empty());
    ASSERT_TRUE(FileSetModifiedTime((cache_.PathOf("quaylink") + PathSeparator() + record).c_str(),
                                    file.changedNs / 1000000000 - 1));
    EXPECT_FALSE(CleanCheckRemembered(image.drive, 0));
    // Once a write of ours has failed, the volume may be half written:
    // nothing is recorded.
    uint8_t block[512] = {};
    image.Slot().faults.failWriteAt = 2;
    ASSERT_EQ(image.drive->WriteSectors(block, 1, 40, image.drive), 1);
    ASSERT_EQ(image.drive->WriteSectors(block, 1, 41, image.drive), 0);
    RememberCleanCheck(image.drive, 0);
    EXPECT_FALSE(CleanCheckRemembered(image.drive, 0));
}

}  // namespace
