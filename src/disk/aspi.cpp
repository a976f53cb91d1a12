#include "disk/aspi.h"

#include <cstring>

#include "core/status.h"
#include "disk/drive_table.h"

uint32_t HostAdapterCount = 0;

namespace {

void* g_library = nullptr;
AspiSendCommandFn g_send = nullptr;

// One block per kind of request, so that an abort names a block that stays
// where it is; each is cleared before every attempt.
SrbExecute g_inquiryBlock;
SrbExecute g_readBlock;
SrbExecute g_writeBlock;
SrbExecute g_capacityBlock;
SrbAbort g_abortBlock;

enum class Request { Inquiry, Read, Write, Capacity };

constexpr uint8_t kSenseLength = 14;
constexpr uint8_t kCdbInquiry = 0x12;
constexpr uint8_t kCdbReadCapacity = 0x25;
constexpr uint8_t kCdbRead10 = 0x28;
constexpr uint8_t kCdbWrite10 = 0x2A;
constexpr unsigned kCapacityLength = 8;
constexpr int32_t kNoEvent = -1;

void PutBig32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

void Fill(SrbExecute& srb, Request kind, uint32_t adapter, uint32_t target, uint32_t first, uint32_t sectorSize,
          uint32_t count, void* event)
{
    std::memset(static_cast<void*>(&srb), 0, sizeof srb);
    srb.SRB_Cmd = kSrbExecute;
    srb.SRB_HaId = static_cast<uint8_t>(adapter);
    srb.SRB_Target = static_cast<uint8_t>(target);
    srb.SRB_BufPointer = SectorBuffer;
    srb.SRB_SenseLen = kSenseLength;
    srb.SRB_CDBLen = 10;
    srb.SRB_PostProc = event;
    switch (kind) {
    case Request::Inquiry:
        srb.SRB_Flags = kSrbFlagEventNotify | kSrbFlagDataIn;
        srb.SRB_BufLen = kInquiryLength;
        srb.SRB_CDBLen = 6;
        srb.CDBByte[0] = kCdbInquiry;
        srb.CDBByte[4] = kInquiryLength;
        break;
    case Request::Capacity:
        // The direction comes from the command.
        srb.SRB_Flags = kSrbFlagEventNotify;
        srb.SRB_BufLen = kCapacityLength;
        srb.CDBByte[0] = kCdbReadCapacity;
        break;
    case Request::Read:
    case Request::Write:
        srb.SRB_Flags = kSrbFlagEventNotify | (kind == Request::Read ? kSrbFlagDataIn : kSrbFlagDataOut);
        srb.SRB_BufLen = count * sectorSize;
        srb.CDBByte[0] = kind == Request::Read ? kCdbRead10 : kCdbWrite10;
        PutBig32(srb.CDBByte + 2, first);
        srb.CDBByte[7] = static_cast<uint8_t>(count >> 8);
        srb.CDBByte[8] = static_cast<uint8_t>(count);
        break;
    }
}

// Sends one request, up to three times. Returns the block count of the
// attempt that succeeded (1 for requests without a count), 0 on failure,
// kNoEvent when no event could be made.
int32_t Run(SrbExecute& srb, Request kind, uint32_t adapter, uint32_t target, uint32_t first = 0,
            uint32_t sectorSize = 0, uint32_t count = 1)
{
    if (g_send == nullptr) return 0;
    void* event = AspiSystem.MakeEvent();
    if (event == nullptr) return kNoEvent;
    const bool transfer = kind == Request::Read || kind == Request::Write;
    int32_t result = 0;
    for (unsigned attempt = 0; attempt < kAspiAttempts; ++attempt) {
        Fill(srb, kind, adapter, target, first, sectorSize, count, event);
        g_send(&srb);
        if (srb.SRB_Status == kSrbPending) {
            if (!AspiSystem.WaitForEvent(event, kAspiWaitMs)) {
                // A request that hangs is not tried again: the device or the
                // bus is in a state more attempts would only prolong.
                AspiAbort(&srb, adapter);
                break;
            }
            AspiSystem.ClearEvent(event);
        }
        if (srb.SRB_HaStat != 0) continue;
        const uint8_t status = srb.SRB_Status;
        // An error whose target status is GOOD is a completion some managers
        // report for a transfer that did go through.
        if (status == kSrbComplete || (status == kSrbError && srb.SRB_TargStat == 0)) {
            result = static_cast<int32_t>(count);
            break;
        }
        if (status == kSrbNoDevice) break;
        if (status == kSrbBufferTooBig && transfer) {
            // The adapter cannot move that much at once: half, then one
            // block; the caller asks again for the rest.
            count = attempt == 0 ? (count + 1) / 2 : 1;
            continue;
        }
        if (status == kSrbBusy) AspiSystem.Pause(kAspiBusyPauseMs);
    }
    AspiSystem.CloseEvent(event);
    return result;
}

// The count of a transfer held to what SectorBuffer and the command's 16-bit
// length can take.
uint32_t TransferCount(uint32_t sectorSize, uint32_t count)
{
    if (sectorSize == 0 || sectorSize > kSectorBufferSize) return 0;
    const uint32_t room = kSectorBufferSize / sectorSize;
    return count < room ? count : room;
}

uint32_t GetBig32(const uint8_t* at)
{
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

}  // namespace

int AspiLoad()
{
    AspiUnload();
    void* library = AspiSystem.LoadManager();
    if (library == nullptr) return -1;
    const auto info = reinterpret_cast<AspiSupportInfoFn>(AspiSystem.FindEntry(library, "GetASPI32SupportInfo"));
    const auto send = reinterpret_cast<AspiSendCommandFn>(AspiSystem.FindEntry(library, "SendASPI32Command"));
    if (info == nullptr || send == nullptr) {
        AspiSystem.FreeManager(library);
        return -2;
    }
    g_library = library;
    g_send = send;
    const uint32_t support = info();
    if ((support >> 8 & 0xFF) != kSrbComplete) {
        AspiUnload();
        return -3;
    }
    HostAdapterCount = support & 0xFF;
    if (HostAdapterCount == 0) {
        AspiUnload();
        return -4;
    }
    return 0;
}

void AspiUnload()
{
    if (g_library != nullptr) AspiSystem.FreeManager(g_library);
    g_library = nullptr;
    g_send = nullptr;
    HostAdapterCount = 0;
}

bool AspiLoaded() { return g_library != nullptr; }

int AspiInquiry(uint32_t adapter, uint32_t target)
{
    // A device that answers with less than asked leaves zeros, not the
    // previous transfer's bytes.
    std::memset(SectorBuffer, 0, kInquiryLength);
    const int32_t r = Run(g_inquiryBlock, Request::Inquiry, adapter, target);
    if (r == kNoEvent) return -3;
    return r > 0 ? 0 : -1;
}

int32_t AspiRead10(uint32_t adapter, uint32_t target, uint32_t first, uint32_t sectorSize, uint32_t count)
{
    count = TransferCount(sectorSize, count);
    if (count == 0) return 0;
    const int32_t r = Run(g_readBlock, Request::Read, adapter, target, first, sectorSize, count);
    return r > 0 ? r : 0;
}

int32_t AspiWrite10(uint32_t adapter, uint32_t target, uint32_t first, uint32_t sectorSize, uint32_t count)
{
    count = TransferCount(sectorSize, count);
    if (count == 0) return 0;
    const int32_t r = Run(g_writeBlock, Request::Write, adapter, target, first, sectorSize, count);
    return r > 0 ? r : 0;
}

uint32_t AspiReadCapacity(uint32_t adapter, uint32_t target, uint32_t* capacity)
{
    if (capacity != nullptr) *capacity = 0;
    std::memset(SectorBuffer, 0, kCapacityLength);
    if (Run(g_capacityBlock, Request::Capacity, adapter, target) <= 0) return 0;
    if (capacity != nullptr) *capacity = GetBig32(SectorBuffer) + 1;
    return uint32_t{SectorBuffer[6]} << 8 | SectorBuffer[7];
}

void AspiAbort(SrbExecute* srb, uint32_t adapter)
{
    std::memset(static_cast<void*>(&g_abortBlock), 0, sizeof g_abortBlock);
    g_abortBlock.SRB_Cmd = kSrbAbortRequest;
    g_abortBlock.SRB_HaId = static_cast<uint8_t>(adapter);
    g_abortBlock.SRB_ToAbort = srb;
    if (g_send != nullptr) g_send(&g_abortBlock);
    AspiSystem.Pause(kAspiAbortPauseMs);
}

namespace {

// The device layer: SectorBuffer is the only buffer the requests use.
int32_t AspiReadSectors(uint8_t*, uint32_t count, uint32_t first, const DriveEntry* entry)
{
    return AspiRead10(entry->HostAdapter, entry->Unit, first, entry->BlocksPerSector * kBlockSize, count);
}

int32_t AspiWriteSectors(uint8_t*, uint32_t count, uint32_t first, const DriveEntry* entry)
{
    return AspiWrite10(entry->HostAdapter, entry->Unit, first, entry->BlocksPerSector * kBlockSize, count);
}

}  // namespace

int32_t AspiReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    const uint32_t before = StatusCode;
    const int32_t r = MappedReadBlocks(buffer, count, first, entry, AspiReadSectors);
    if (r == 0 && before != 0) StatusCode = before;
    return r;
}

int32_t AspiWriteBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    return MappedWriteBlocks(buffer, count, first, entry, AspiReadSectors, AspiWriteSectors);
}

void ResetAspiState()
{
    AspiUnload();
    AspiSystem = kSystemAspiCalls;
}
