// SCSI devices through an ASPI for Win32 manager ("wnaspi32.dll"): loading
// the library, INQUIRY, READ CAPACITY, READ(10) and WRITE(10) with the retry
// loop, and abort. The library's entry points, the event calls and Sleep are
// reached through AspiSystem, so that tests can put a simulated adapter and a
// clock behind them.
#pragma once
#include <cstddef>
#include <cstdint>

struct DriveEntry;

// The request blocks, laid out byte for byte as the ASPI for Win32 interface
// defines them (SRB_ExecSCSICmd and SRB_Abort): packed, pointers of the
// build's own width (80 and 12 bytes in a 32-bit build, 92 and 16 in a 64-bit
// one).
#pragma pack(push, 1)
struct SrbExecute {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;
    void* SRB_Rsvd2;
    uint8_t SRB_Rsvd3[16];
    uint8_t CDBByte[16];
    uint8_t SenseArea[14 + 2];
};

struct SrbAbort {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};
#pragma pack(pop)

static_assert(offsetof(SrbExecute, SRB_BufPointer) == 16);
static_assert(offsetof(SrbExecute, SRB_PostProc) == 16 + sizeof(void*) + 4);
static_assert(offsetof(SrbExecute, CDBByte) == 16 + 3 * sizeof(void*) + 4 + 16);
static_assert(sizeof(SrbExecute) == (sizeof(void*) == 4 ? 80 : 92));
static_assert(sizeof(SrbAbort) == 8 + sizeof(void*));

// Command codes, request flags and status values of the interface.
enum : uint8_t {
    kSrbExecute = 2,
    kSrbAbortRequest = 3,
    kSrbFlagEventNotify = 0x40,
    kSrbFlagDataIn = 0x08,
    kSrbFlagDataOut = 0x10,
    kSrbPending = 0,
    kSrbComplete = 1,
    kSrbError = 4,
    kSrbNoDevice = 0x82,
    kSrbBusy = 0xE5,
    kSrbBufferTooBig = 0xE6,
};

// The manager's two entry points (cdecl, as the library exports them).
#ifdef _WIN32
#define ASPI_CDECL __cdecl
#else
#define ASPI_CDECL
#endif
using AspiSupportInfoFn = uint32_t(ASPI_CDECL*)();
using AspiSendCommandFn = uint32_t(ASPI_CDECL*)(void* srb);

using AspiEntryPoint = void (*)();

// What the transport needs from the system. Events are opaque handles; a
// wait answers true only when the event was signalled within `ms`.
struct AspiSystemCalls {
    void* (*LoadManager)();  // loads "wnaspi32.dll"; null when there is none
    AspiEntryPoint (*FindEntry)(void* library, const char* name);  // null when missing
    void (*FreeManager)(void* library);
    void* (*MakeEvent)();  // automatic reset, not signalled; null on failure
    bool (*WaitForEvent)(void* event, uint32_t ms);
    void (*ClearEvent)(void* event);
    void (*CloseEvent)(void* event);
    void (*Pause)(uint32_t ms);
};

// The system's calls (on Windows; elsewhere there is no library to load).
extern const AspiSystemCalls kSystemAspiCalls;
// The calls in use (the system's at start); tests replace them.
extern AspiSystemCalls AspiSystem;
extern uint32_t HostAdapterCount;

constexpr uint32_t kAspiWaitMs = 10000;
constexpr uint32_t kAspiBusyPauseMs = 5000;
constexpr uint32_t kAspiAbortPauseMs = 1000;
constexpr unsigned kAspiAttempts = 3;
constexpr unsigned kInquiryLength = 32;

// 0 when the library is loaded with at least one host adapter; -1 no
// library, -2 an entry point missing, -3 the manager is not ready, -4 no
// host adapters. A failure leaves the library unloaded.
int AspiLoad();
void AspiUnload();
bool AspiLoaded();

// 0 with the 32 bytes of INQUIRY data in SectorBuffer; -1 on failure, -3
// when no event can be made.
int AspiInquiry(uint32_t adapter, uint32_t target);
// Blocks moved between the device and SectorBuffer (possibly fewer than
// asked, when the adapter refuses the size), 0 on failure.
int32_t AspiRead10(uint32_t adapter, uint32_t target, uint32_t first, uint32_t sectorSize, uint32_t count);
int32_t AspiWrite10(uint32_t adapter, uint32_t target, uint32_t first, uint32_t sectorSize, uint32_t count);
// The device's block length (16 bits), 0 on failure; `capacity`, when given,
// gets the last block's number + 1, or 0 on failure.
uint32_t AspiReadCapacity(uint32_t adapter, uint32_t target, uint32_t* capacity);
// Asks the manager to abort `srb` and gives it a second to do so.
void AspiAbort(SrbExecute* srb, uint32_t adapter);

// The drive operations of a SCSI device: 512-byte blocks mapped onto the
// device's sectors (entry->BlocksPerSector). A failure sets StatusCode 3 or
// 4 unless a code is already stored.
int32_t AspiReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);
int32_t AspiWriteBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);

// The library unloaded and the system's calls back in place.
void ResetAspiState();
