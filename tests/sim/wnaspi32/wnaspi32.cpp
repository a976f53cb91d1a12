// A simulated ASPI for Win32 manager: image files served as SCSI targets, for
// running the program's SCSI path under Wine without an adapter. Requests
// are completed from a worker thread, as a driver would, by filling in the
// status and signalling the request's event.
//
// QUAYLINK_SIM_ASPI: targets separated by ";", each
//     ADAPTER:TARGET:KIND:SECTORSIZE:PATH
//   KIND: disk (fixed), rdisk (removable), cdrom, worm, optical, scanner.
//   An empty PATH is a removable drive without a medium.
// QUAYLINK_SIM_ASPI_FAULTS: comma-separated answers forced on the n-th
//   execute request (1-based, all targets counted): busy@n (0xE5 at once),
//   toobig@n (0xE6), check@n (error, CHECK CONDITION), errgood@n (error with
//   target status GOOD), hastat@n (adapter error), hang@n (never completes);
//   and maxblocks=N (larger transfers answer 0xE6), notready (the manager
//   reports it is not ready).
// QUAYLINK_SIM_ASPI_LOG: a file that gets one line per request.
//
// The request blocks are read at the byte offsets the interface fixes for
// the build's pointer width, independently of the program's own structure.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

constexpr size_t P = sizeof(void*);
// SRB_ExecSCSICmd
constexpr size_t kCmd = 0, kStatus = 1, kHaId = 2, kFlags = 3, kTarget = 8, kLun = 9, kBufLen = 12, kBufPointer = 16;
constexpr size_t kSenseLen = 16 + P, kCdbLen = 17 + P, kHaStat = 18 + P, kTargStat = 19 + P, kPostProc = 20 + P;
constexpr size_t kCdb = 36 + 3 * P;
constexpr size_t kSense = kCdb + 16;
// SRB_Abort
constexpr size_t kToAbort = 8;

constexpr uint8_t kPending = 0, kComplete = 1, kAborted = 2, kError = 4, kNoDevice = 0x82, kInvalid = 0xE0,
                  kBusy = 0xE5, kTooBig = 0xE6;

struct Target {
    unsigned adapter = 0;
    unsigned id = 0;
    uint8_t type = 0;
    bool removable = false;
    uint32_t sectorSize = 512;
    std::string path;
};

struct Fault {
    std::string kind;
    unsigned at = 0;
};

struct Job {
    uint8_t* srb;
    std::string forced;  // the answer forced on it; empty: the target answers
};

CRITICAL_SECTION g_lock;
CONDITION_VARIABLE g_wake;
std::deque<Job> g_jobs;
std::vector<uint8_t*> g_hung;  // requests that never complete, until aborted
HANDLE g_worker = nullptr;
std::vector<Target> g_targets;
std::vector<Fault> g_faults;
unsigned g_maxBlocks = 0;
bool g_notReady = false;
unsigned g_requests = 0;
std::string g_logPath;

template <typename T>
T Get(const uint8_t* srb, size_t at)
{
    T value;
    std::memcpy(&value, srb + at, sizeof value);
    return value;
}

template <typename T>
void Put(uint8_t* srb, size_t at, T value)
{
    std::memcpy(srb + at, &value, sizeof value);
}

void Log(const char* format, ...)
{
    if (g_logPath.empty()) return;
    FILE* f = std::fopen(g_logPath.c_str(), "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
}

std::string Env(const char* name)
{
    char value[4096];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

void Configure()
{
    g_hung.clear();
    g_targets.clear();
    g_faults.clear();
    g_maxBlocks = 0;
    g_notReady = false;
    g_requests = 0;
    g_logPath = Env("QUAYLINK_SIM_ASPI_LOG");
    for (const std::string& item : Split(Env("QUAYLINK_SIM_ASPI"), ';')) {
        // The path is the rest of the line: it may hold a drive letter's colon.
        size_t at = 0;
        std::string fields[4];
        for (std::string& field : fields) {
            const size_t colon = item.find(':', at);
            if (colon == std::string::npos) break;
            field = item.substr(at, colon - at);
            at = colon + 1;
        }
        Target t;
        t.adapter = static_cast<unsigned>(std::atoi(fields[0].c_str()));
        t.id = static_cast<unsigned>(std::atoi(fields[1].c_str()));
        const std::string& kind = fields[2];
        t.type = kind == "cdrom" ? 5 : kind == "worm" ? 4 : kind == "optical" ? 7 : kind == "scanner" ? 6 : 0;
        t.removable = kind != "disk" && kind != "scanner";
        t.sectorSize = static_cast<uint32_t>(std::atoi(fields[3].c_str()));
        if (t.sectorSize == 0) t.sectorSize = 512;
        t.path = at <= item.size() ? item.substr(at) : std::string();
        g_targets.push_back(t);
    }
    for (const std::string& item : Split(Env("QUAYLINK_SIM_ASPI_FAULTS"), ',')) {
        if (item.rfind("maxblocks=", 0) == 0) {
            g_maxBlocks = static_cast<unsigned>(std::atoi(item.c_str() + 10));
        } else if (item == "notready") {
            g_notReady = true;
        } else {
            const size_t sign = item.find('@');
            if (sign != std::string::npos)
                g_faults.push_back({item.substr(0, sign), static_cast<unsigned>(std::atoi(item.c_str() + sign + 1))});
        }
    }
}

const Target* FindTarget(unsigned adapter, unsigned id)
{
    for (const Target& t : g_targets)
        if (t.adapter == adapter && t.id == id) return &t;
    return nullptr;
}

uint32_t Big32(const uint8_t* at)
{
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

// The medium's size in bytes, or -1 when there is none.
int64_t MediumSize(const Target& t)
{
    if (t.path.empty()) return -1;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(t.path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>(uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow);
}

bool Transfer(const Target& t, bool read, uint32_t first, uint32_t count, uint8_t* buffer)
{
    HANDLE file = CreateFileA(t.path.c_str(), read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(first) * t.sectorSize;
    const DWORD bytes = count * t.sectorSize;
    DWORD done = 0;
    bool ok = SetFilePointerEx(file, offset, nullptr, FILE_BEGIN) != 0;
    ok = ok && (read ? ReadFile(file, buffer, bytes, &done, nullptr) : WriteFile(file, buffer, bytes, &done, nullptr));
    CloseHandle(file);
    return ok && done == bytes;
}

// Fills in the status fields of one request as the target answers it.
void Execute(uint8_t* srb)
{
    const uint8_t* cdb = srb + kCdb;
    uint8_t* buffer = Get<uint8_t*>(srb, kBufPointer);
    const uint32_t length = Get<uint32_t>(srb, kBufLen);
    const Target* t = FindTarget(srb[kHaId], srb[kTarget]);
    uint8_t status = kComplete, haStat = 0, targStat = 0;
    const int64_t size = t ? MediumSize(*t) : -1;
    auto checkCondition = [&](uint8_t senseKey) {
        status = kError;
        targStat = 2;
        uint8_t* sense = srb + kSense;
        const uint8_t senseLength = srb[kSenseLen] < 16 ? srb[kSenseLen] : 16;
        std::memset(sense, 0, senseLength);
        if (senseLength > 2) {
            sense[0] = 0x70;
            sense[2] = senseKey;
        }
    };
    switch (cdb[0]) {
    case 0x12: {  // INQUIRY
        uint8_t reply[36] = {t->type, static_cast<uint8_t>(t->removable ? 0x80 : 0), 2, 2, 31};
        std::memcpy(reply + 8, "QUAYSIM ", 8);
        std::memcpy(reply + 16, t->type == 5 ? "CD-ROM   Target " : "Disk     Target ", 16);
        std::memcpy(reply + 32, "1.0 ", 4);
        const uint32_t n = length < cdb[4] ? length : cdb[4];
        std::memcpy(buffer, reply, n < sizeof reply ? n : sizeof reply);
        break;
    }
    case 0x25: {  // READ CAPACITY
        if (size < t->sectorSize) {
            checkCondition(2);  // not ready: no medium
            break;
        }
        const uint32_t last = static_cast<uint32_t>(size / t->sectorSize - 1);
        const uint8_t reply[8] = {uint8_t(last >> 24), uint8_t(last >> 16), uint8_t(last >> 8), uint8_t(last),
                                  uint8_t(t->sectorSize >> 24), uint8_t(t->sectorSize >> 16),
                                  uint8_t(t->sectorSize >> 8), uint8_t(t->sectorSize)};
        if (length < 8)
            haStat = 0x12;
        else
            std::memcpy(buffer, reply, 8);
        break;
    }
    case 0x28:
    case 0x2A: {  // READ(10), WRITE(10)
        const bool read = cdb[0] == 0x28;
        const uint32_t first = Big32(cdb + 2);
        const uint32_t count = uint32_t{cdb[7]} << 8 | cdb[8];
        if (size < 0) {
            checkCondition(2);
        } else if (uint64_t{first} + count > static_cast<uint64_t>(size) / t->sectorSize) {
            checkCondition(5);  // illegal request: past the end
        } else if (length != count * t->sectorSize) {
            haStat = 0x12;  // data over- or underrun
            status = kError;
        } else if (!read && (t->type == 5 || t->type == 4)) {
            checkCondition(7);  // data protect
        } else if (!Transfer(*t, read, first, count, buffer)) {
            checkCondition(3);  // medium error
        }
        break;
    }
    default:
        checkCondition(5);
        break;
    }
    srb[kHaStat] = haStat;
    srb[kTargStat] = targStat;
    srb[kStatus] = status;
}

void Signal(uint8_t* srb)
{
    if (srb[kFlags] & 0x40) SetEvent(Get<HANDLE>(srb, kPostProc));
}

DWORD WINAPI Worker(void*)
{
    for (;;) {
        EnterCriticalSection(&g_lock);
        while (g_jobs.empty()) SleepConditionVariableCS(&g_wake, &g_lock, INFINITE);
        Job job = g_jobs.front();
        g_jobs.pop_front();
        LeaveCriticalSection(&g_lock);

        // A little later than the call, as from an interrupt.
        Sleep(1);
        uint8_t* srb = job.srb;
        if (job.forced.empty()) {
            Execute(srb);
        } else {
            srb[kHaStat] = job.forced == "hastat" ? 0x11 : 0;  // selection time-out
            srb[kTargStat] = job.forced == "check" ? 2 : 0;
            srb[kStatus] = job.forced == "toobig" ? kTooBig : kError;
        }
        Log("done %02x status=%02x hastat=%02x targstat=%02x", srb[kCdb], srb[kStatus], srb[kHaStat], srb[kTargStat]);
        Signal(srb);
    }
}

void StartWorker()
{
    if (g_worker) return;
    // The worker outlives any FreeLibrary: the library stays mapped until the
    // process ends.
    HMODULE self;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&StartWorker), &self);
    InitializeCriticalSection(&g_lock);
    InitializeConditionVariable(&g_wake);
    g_worker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
}

std::string FaultAt(unsigned request)
{
    for (const Fault& f : g_faults)
        if (f.at == request) return f.kind;
    return std::string();
}

uint32_t Execute32(uint8_t* srb)
{
    const uint8_t* cdb = srb + kCdb;
    const unsigned request = ++g_requests;
    const uint32_t count = uint32_t{cdb[7]} << 8 | cdb[8];
    const bool transfer = cdb[0] == 0x28 || cdb[0] == 0x2A;
    Log("exec %02x ha=%u target=%u flags=%02x cdblen=%u buflen=%u lba=%u count=%u", cdb[0], srb[kHaId], srb[kTarget],
        srb[kFlags], srb[kCdbLen], Get<uint32_t>(srb, kBufLen), transfer ? Big32(cdb + 2) : 0, transfer ? count : 0);
    srb[kHaStat] = 0;
    srb[kTargStat] = 0;
    if (srb[kHaId] >= 8 || srb[kLun] != 0 || FindTarget(srb[kHaId], srb[kTarget]) == nullptr) {
        srb[kStatus] = kNoDevice;
        Log("done %02x status=%02x at once", cdb[0], kNoDevice);
        return kNoDevice;
    }
    std::string forced = FaultAt(request);
    if (forced.empty() && transfer && g_maxBlocks && count > g_maxBlocks) forced = "toobig";
    if (forced == "busy") {
        srb[kStatus] = kBusy;
        Log("done %02x status=%02x at once", cdb[0], kBusy);
        return kBusy;
    }
    srb[kStatus] = kPending;
    EnterCriticalSection(&g_lock);
    if (forced == "hang")
        g_hung.push_back(srb);
    else
        g_jobs.push_back({srb, forced});
    LeaveCriticalSection(&g_lock);
    WakeConditionVariable(&g_wake);
    return kPending;
}

uint32_t Abort32(uint8_t* abort)
{
    uint8_t* victim = Get<uint8_t*>(abort, kToAbort);
    bool found = false;
    EnterCriticalSection(&g_lock);
    for (auto it = g_hung.begin(); it != g_hung.end(); ++it)
        if (*it == victim) {
            g_hung.erase(it);
            found = true;
            break;
        }
    LeaveCriticalSection(&g_lock);
    Log("abort found=%d", found ? 1 : 0);
    if (found) {
        victim[kStatus] = kAborted;
        Signal(victim);
    }
    abort[kStatus] = kComplete;
    return kComplete;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo()
{
    StartWorker();
    EnterCriticalSection(&g_lock);
    Configure();
    LeaveCriticalSection(&g_lock);
    unsigned adapters = 0;
    for (const Target& t : g_targets)
        if (t.adapter + 1 > adapters) adapters = t.adapter + 1;
    Log("support adapters=%u%s", adapters, g_notReady ? " notready" : "");
    return (g_notReady ? 0xE8u : 1u) << 8 | (adapters & 0xFF);
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* block)
{
    auto* srb = static_cast<uint8_t*>(block);
    if (srb == nullptr) return kInvalid;
    switch (srb[kCmd]) {
    case 2: return Execute32(srb);
    case 3: return Abort32(srb);
    default:
        srb[kStatus] = kInvalid;
        return kInvalid;
    }
}
}
