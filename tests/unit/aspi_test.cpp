// SCSI through an ASPI manager, against a simulated manager and clock: the
// library's loading, the retry loop's answers (busy, oversized, hung, target
// errors), the block mapping over real sectors, and the discovery step. The
// simulated adapter checks every request block as a strict driver would and
// serves its targets from memory.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "core/status.h"
#include "disk/aspi.h"
#include "disk/discovery.h"
#include "disk/drive_table.h"
#include "support/temp_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct SimTarget {
    uint8_t type = 0;
    bool removable = false;
    uint32_t sectorSize = 512;
    Bytes bytes;  // empty: no medium
    std::string identification = "QUAYSIM  Disk    One     ";
};

// An answer forced on the next request: its final status fields, or a
// request that never completes.
struct Forced {
    uint8_t status = kSrbComplete;
    uint8_t haStat = 0;
    uint8_t targStat = 0;
    bool hang = false;
};

struct Sent {
    uint8_t cmd;
    uint8_t opcode;
    uint32_t count;  // READ(10)/WRITE(10) block count
    bool operator==(const Sent&) const = default;
};

struct SimAdapter {
    bool library = true;
    bool entries = true;
    uint32_t support = 0x0101;  // complete, one adapter
    bool eventFails = false;
    uint32_t maxBlocks = 0;  // larger transfers answer "buffer too big"; 0 no limit
    std::map<std::pair<uint32_t, uint32_t>, SimTarget> targets;
    std::vector<Forced> forced;
    std::vector<Sent> sent;
    const SrbExecute* aborted = nullptr;
    uint64_t clockMs = 0;
    int events = 0;  // made and not closed
    bool freed = false;
    // The request waiting for its event, and the status it will end with.
    SrbExecute* pending = nullptr;
    Forced outcome;
};
SimAdapter Sim;
int g_eventToken;

uint32_t Big32(const uint8_t* at)
{
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

// Runs a command against its target the way a driver would; the status
// fields it would end with.
Forced Execute(SrbExecute& srb)
{
    const auto it = Sim.targets.find({srb.SRB_HaId, srb.SRB_Target});
    if (it == Sim.targets.end()) return {kSrbNoDevice};
    const SimTarget& t = it->second;
    const uint8_t* cdb = srb.CDBByte;
    const uint8_t* buffer = srb.SRB_BufPointer;
    EXPECT_EQ(buffer, SectorBuffer);
    switch (cdb[0]) {
    case 0x12: {
        EXPECT_TRUE(srb.SRB_Flags == 0x48 && srb.SRB_CDBLen == 6 && cdb[4] == 32 && srb.SRB_BufLen == 32);
        uint8_t reply[32] = {t.type, static_cast<uint8_t>(t.removable ? 0x80 : 0)};
        std::memset(reply + 8, ' ', 24);
        std::memcpy(reply + 8, t.identification.data(), std::min<size_t>(24, t.identification.size()));
        std::memcpy(srb.SRB_BufPointer, reply, sizeof reply);
        return {};
    }
    case 0x25: {
        EXPECT_TRUE(srb.SRB_Flags == 0x40 && srb.SRB_CDBLen == 10 && srb.SRB_BufLen == 8);
        if (t.bytes.empty()) return {kSrbError, 0, 2};
        const uint32_t last = static_cast<uint32_t>(t.bytes.size() / t.sectorSize) - 1;
        const uint8_t reply[8] = {uint8_t(last >> 24), uint8_t(last >> 16), uint8_t(last >> 8), uint8_t(last), 0, 0,
                                  uint8_t(t.sectorSize >> 8), uint8_t(t.sectorSize)};
        std::memcpy(srb.SRB_BufPointer, reply, sizeof reply);
        return {};
    }
    case 0x28:
    case 0x2A: {
        const bool read = cdb[0] == 0x28;
        const uint32_t first = Big32(cdb + 2);
        const uint32_t count = uint32_t{cdb[7]} << 8 | cdb[8];
        EXPECT_TRUE(srb.SRB_Flags == (read ? 0x48 : 0x50) && srb.SRB_CDBLen == 10);
        if (Sim.maxBlocks && count > Sim.maxBlocks) return {kSrbBufferTooBig};
        if (srb.SRB_BufLen != count * t.sectorSize) return {kSrbError, 0x12};  // data over- or underrun
        if (t.bytes.empty() || uint64_t{first} + count > t.bytes.size() / t.sectorSize) return {kSrbError, 0, 2};
        uint8_t* medium = const_cast<uint8_t*>(t.bytes.data()) + size_t{first} * t.sectorSize;
        std::memcpy(read ? srb.SRB_BufPointer : medium, read ? medium : srb.SRB_BufPointer, srb.SRB_BufLen);
        return {};
    }
    }
    ADD_FAILURE() << "unexpected command " << int{cdb[0]};
    return {kSrbError, 0, 2};
}

uint32_t SimSupportInfo() { return Sim.support; }

// Busy and "no device" come back at once; everything else is completed
// later, when the program waits for the event.
uint32_t SimSend(void* block)
{
    auto* header = static_cast<SrbExecute*>(block);
    if (header->SRB_Cmd == kSrbAbortRequest) {
        const auto* abort = static_cast<SrbAbort*>(block);
        const void* target = abort->SRB_ToAbort;
        EXPECT_EQ(target, Sim.pending);
        Sim.sent.push_back({kSrbAbortRequest, 0, 0});
        Sim.aborted = static_cast<const SrbExecute*>(abort->SRB_ToAbort);
        return kSrbComplete;
    }
    SrbExecute& srb = *header;
    EXPECT_TRUE(srb.SRB_Cmd == kSrbExecute && srb.SRB_SenseLen == 14 && srb.SRB_Lun == 0);
    const void* event = srb.SRB_PostProc;  // unaligned in a 64-bit build: copied out first
    EXPECT_EQ(event, &g_eventToken);
    Sim.sent.push_back({kSrbExecute, srb.CDBByte[0], uint32_t{srb.CDBByte[7]} << 8 | srb.CDBByte[8]});
    Forced answer = Execute(srb);
    if (!Sim.forced.empty()) {
        answer = Sim.forced.front();
        Sim.forced.erase(Sim.forced.begin());
    }
    if (answer.status == kSrbBusy || answer.status == kSrbNoDevice) {
        srb.SRB_Status = answer.status;
        return answer.status;
    }
    srb.SRB_Status = kSrbPending;
    Sim.pending = &srb;
    Sim.outcome = answer;
    return kSrbPending;
}

void* SimLoad() { return Sim.library ? &Sim : nullptr; }
AspiEntryPoint SimFind(void*, const char* name)
{
    if (!Sim.entries) return nullptr;
    if (std::strcmp(name, "GetASPI32SupportInfo") == 0) return reinterpret_cast<AspiEntryPoint>(SimSupportInfo);
    if (std::strcmp(name, "SendASPI32Command") == 0) return reinterpret_cast<AspiEntryPoint>(SimSend);
    return nullptr;
}
void SimFree(void*) { Sim.freed = true; }
void* SimMakeEvent()
{
    if (Sim.eventFails) return nullptr;
    ++Sim.events;
    return &g_eventToken;
}
bool SimWait(void*, uint32_t ms)
{
    EXPECT_EQ(ms, 10000u);
    if (Sim.pending == nullptr || Sim.outcome.hang) {
        Sim.clockMs += ms;
        return false;
    }
    Sim.pending->SRB_Status = Sim.outcome.status;
    Sim.pending->SRB_HaStat = Sim.outcome.haStat;
    Sim.pending->SRB_TargStat = Sim.outcome.targStat;
    Sim.pending = nullptr;
    return true;
}
void SimClear(void*) {}
void SimClose(void*) { --Sim.events; }
void SimPause(uint32_t ms) { Sim.clockMs += ms; }

class AspiTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        Sim = SimAdapter{};
        AspiSystem = {SimLoad, SimFind, SimFree, SimMakeEvent, SimWait, SimClear, SimClose, SimPause};
    }
    void TearDown() override
    {
        EXPECT_EQ(Sim.events, 0) << "an event was left open";
        DiskStateTest::TearDown();
    }
    // A target of `sectors` patterned sectors (none: no medium), of SCSI device `type`.
    SimTarget& Disk(uint32_t target, uint32_t sectorSize, size_t sectors, uint8_t type = 0, bool removable = false,
                    uint32_t adapter = 0)
    {
        SimTarget& t = Sim.targets[{adapter, target}];
        t = {type, removable, sectorSize, PatternBytes(sectorSize * sectors, target)};
        return t;
    }
};

TEST_F(AspiTest, LoadFailsAndUnloadsForEachMissingPiece)
{
    struct Case {
        bool library, entries;
        uint32_t support;
        int result;
    };
    const Case cases[] = {
        {false, true, 0x0101, -1}, {true, false, 0x0101, -2}, {true, true, 0x0201, -3},
        {true, true, 0x0100, -4},  {true, true, 0x0102, 0},
    };
    for (const Case& c : cases) {
        Sim.library = c.library;
        Sim.entries = c.entries;
        Sim.support = c.support;
        Sim.freed = false;
        EXPECT_EQ(AspiLoad(), c.result) << c.support;
        EXPECT_EQ(AspiLoaded(), c.result == 0);
        EXPECT_EQ(Sim.freed, c.library && c.result != 0);
        EXPECT_EQ(HostAdapterCount, c.result == 0 ? 2u : 0u);
    }
    AspiUnload();
    EXPECT_TRUE(Sim.freed);
    // Nothing is sent without a library.
    EXPECT_EQ(AspiInquiry(0, 0), -1);
    EXPECT_TRUE(Sim.sent.empty());
}

TEST_F(AspiTest, RetryLoopAnswers)
{
    constexpr uint8_t R = 0x28, I = 0x12;
    struct Case {
        const char* what;
        uint8_t opcode;
        std::vector<Forced> forced;
        int32_t result;
        std::vector<uint32_t> counts;  // per attempt (READ(10)), or attempts of 0 (INQUIRY)
        uint64_t ms;                  // time spent waiting and pausing
        bool aborted;
    };
    const Case cases[] = {
        {"oversized twice: half, then one block", R, {{kSrbBufferTooBig}, {kSrbBufferTooBig}}, 1, {64, 32, 1}, 0,
         false},
        {"busy three times", R, {{kSrbBusy}, {kSrbBusy}, {kSrbBusy}}, 0, {64, 64, 64}, 15000, false},
        {"error with target GOOD", R, {{kSrbError, 0, 0}}, 64, {64}, 0, false},
        {"check condition three times", R, {{kSrbError, 0, 2}, {kSrbError, 0, 2}, {kSrbError, 0, 2}}, 0,
         {64, 64, 64}, 0, false},
        {"adapter error, then done", R, {{kSrbComplete, 0x11}}, 64, {64, 64}, 0, false},
        {"never completes", R, {{kSrbComplete, 0, 0, true}}, 0, {64}, 11000, true},
        {"no device", I, {{kSrbNoDevice}}, -1, {0}, 0, false},
        {"oversized inquiry is not halved", I, {{kSrbBufferTooBig}}, 0, {0, 0}, 0, false},
    };
    for (const Case& c : cases) {
        Sim = SimAdapter{};
        Disk(3, 512, 128);
        ASSERT_EQ(AspiLoad(), 0);
        Sim.forced = c.forced;
        const int32_t result = c.opcode == R ? AspiRead10(0, 3, 0, 512, 64) : AspiInquiry(0, 3);
        EXPECT_EQ(result, c.result) << c.what;
        std::vector<uint32_t> counts;
        for (const Sent& s : Sim.sent)
            if (s.cmd == kSrbExecute) counts.push_back(s.count);
        EXPECT_EQ(counts, c.counts) << c.what;
        EXPECT_EQ(Sim.clockMs, c.ms) << c.what;
        EXPECT_EQ(Sim.aborted != nullptr, c.aborted) << c.what;
        EXPECT_EQ(Sim.events, 0) << c.what;
    }
    // No event, no request.
    Sim = SimAdapter{};
    ASSERT_EQ(AspiLoad(), 0);
    Sim.eventFails = true;
    EXPECT_EQ(AspiInquiry(0, 3), -3);
    EXPECT_EQ(AspiRead10(0, 3, 0, 512, 1), 0);
    EXPECT_TRUE(Sim.sent.empty());
}

TEST_F(AspiTest, BlocksMapOntoTheDevicesSectors)
{
    SimTarget& cd = Disk(5, 2048, 40);
    const Bytes original = cd.bytes;
    ASSERT_EQ(AspiLoad(), 0);
    uint32_t capacity = 0;
    EXPECT_EQ(AspiReadCapacity(0, 5, &capacity), 2048u);
    EXPECT_EQ(capacity, 40u);

    DriveEntry entry{};
    entry.ReadSectors = AspiReadBlocks;
    entry.Unit = 5;
    entry.BlocksPerSector = 1;
    EXPECT_EQ(DriveSectorSize(&entry), 2048u);
    EXPECT_EQ(DriveBlockCount(&entry), 160u);
    entry.BlocksPerSector = 4;
    // An adapter that takes at most 8 sectors at once still delivers a run.
    Sim.maxBlocks = 8;
    Bytes out(64 * 512);
    EXPECT_EQ(AspiReadBlocks(out.data(), 64, 10, &entry), 30);  // 16 sectors refused, 8 read: 32 blocks less 2 skipped
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 30 * 512, original.begin() + 10 * 512));
    // A partial sector is read, patched and written back.
    const Bytes three(3 * 512, 0x77);
    EXPECT_EQ(AspiWriteBlocks(const_cast<uint8_t*>(three.data()), 3, 5, &entry), 3);
    EXPECT_TRUE(std::equal(cd.bytes.begin() + 2048, cd.bytes.begin() + 2560, original.begin() + 2048));
    EXPECT_TRUE(std::all_of(cd.bytes.begin() + 2560, cd.bytes.begin() + 4096, [](uint8_t b) { return b == 0x77; }));

    // A failure past the end is a read error, unless a code is already stored.
    EXPECT_EQ(AspiReadBlocks(out.data(), 4, 160, &entry), 0);
    EXPECT_EQ(StatusCode, uint32_t{kStatusReadError});
    StatusCode = 120;
    EXPECT_EQ(AspiReadBlocks(out.data(), 4, 160, &entry), 0);
    EXPECT_EQ(StatusCode, 120u);
    StatusCode = 0;
    EXPECT_EQ(AspiWriteBlocks(out.data(), 4, 160, &entry), 0);
    EXPECT_EQ(StatusCode, uint32_t{kStatusWriteError});
}

TEST_F(AspiTest, DiscoveryListsTheDevicesThatMayHoldMacVolumes)
{
    Sim.support = 0x0102;
    Disk(0, 512, 16, 6);  // scanner
    Disk(2, 512, 16);     // fixed, nothing Mac on it
    SimTarget& mac = Disk(3, 512, 16);
    mac.bytes[512] = 'P';
    mac.bytes[513] = 'M';
    mac.identification = "QUAYSIM   Mac   Disk  Two  ";
    Disk(4, 512, 0, 0, true);   // a cartridge drive without a medium
    Disk(5, 2048, 16, 5, true);  // CD-ROM
    Disk(6, 512, 16, 4, true);   // write once
    Disk(7, 512, 16, 7, true);   // optical memory
    SimTarget& other = Disk(1, 512, 16, 0, false, 1);  // on the second adapter, an HFS volume
    other.bytes[1024] = 'B';
    other.bytes[1025] = 'D';

    Prefs.AddASPI = Prefs.AddBIOS = Prefs.AddCDROM = 1;
    Prefs.AddFloppy = 0;
    WindowsVersion = 0;  // NT: SCSI drives found keep the physical and CD-ROM steps out
    DiscoverDrives();
    std::vector<std::string> names;
    std::string writable;
    for (uint32_t i = 0; i < DriveCount; ++i) {
        names.push_back(DriveTable[i].Name);
        writable += DriveTable[i].WriteSectors == AspiWriteBlocks ? 'w' : '-';
    }
    EXPECT_EQ(names, (std::vector<std::string>{"[WASPI-DISK 03] QUAYSIM Mac Di", "[WASPI-DISK 04] QUAYSIM Disk O",
                                               "[WASPI-CDRM 05] QUAYSIM Disk O", "[WASPI-WORM 06] QUAYSIM Disk O",
                                               "[WASPI-OPTI 07] QUAYSIM Disk O", "[WASPI-DISK 11] QUAYSIM Disk O"}));
    EXPECT_EQ(writable, "ww--ww");
    ASSERT_EQ(DriveCount, 6u);
    EXPECT_TRUE(DriveTable[0].Unit == 3 && DriveTable[0].HostAdapter == 0);
    EXPECT_EQ(DriveTable[0].ReadSectors, AspiReadBlocks);
    EXPECT_TRUE(DriveTable[5].HostAdapter == 1 && DriveTable[5].Unit == 1 && DriveTable[5].BlocksPerSector == 1);
    EXPECT_EQ(StatusCode, 0u);
    EXPECT_TRUE(AspiLoaded());
}

}  // namespace
