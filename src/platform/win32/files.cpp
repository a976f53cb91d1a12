// Files on Windows through the wide file calls (names converted between the
// engine's Windows-1252 and UTF-16 at each call). Device paths such as
// "\\.\PhysicalDrive1" open the same way; their size comes from the disk.
#include "platform/platform.h"

#include <climits>
#include <cstdint>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>

#include "platform/win32/wide.h"

using pcname::Wide;

namespace {

HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

constexpr DWORD kMaxChunk = 1u << 30;

DWORD Chunk(size_t remaining) { return remaining < kMaxChunk ? static_cast<DWORD>(remaining) : kMaxChunk; }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// 100-nanosecond units between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochFileTime = 116444736000000000LL;

// Moves `count` bytes at `offset` with positioned calls. The position of a
// synchronous handle follows such a call on Windows, so it is put back to
// keep the POSIX behaviour, where positioned calls leave it alone.
template <bool kWrite>
int64_t TransferAt(FileHandle file, uint8_t* p, size_t count, uint64_t offset)
{
    if (offset > static_cast<uint64_t>(INT64_MAX) - count) return -1;
    LARGE_INTEGER zero{}, saved{};
    bool restore = SetFilePointerEx(Handle(file), zero, &saved, FILE_CURRENT) != 0;
    size_t done = 0;
    bool failed = false;
    while (done < count) {
        OVERLAPPED at{};
        uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD moved = 0;
        BOOL ok = kWrite ? WriteFile(Handle(file), p + done, Chunk(count - done), &moved, &at)
                         : ReadFile(Handle(file), p + done, Chunk(count - done), &moved, &at);
        if (!ok) {
            if (!kWrite && GetLastError() == ERROR_HANDLE_EOF) break;
            failed = true;
            break;
        }
        if (moved == 0) break;
        done += moved;
    }
    if (restore) SetFilePointerEx(Handle(file), saved, nullptr, FILE_BEGIN);
    return failed ? -1 : static_cast<int64_t>(done);
}

// A FILETIME as seconds since 1970, rounded down like st_mtime (also for
// instants before 1970).
int64_t UnixSecondsOf(const FILETIME& time)
{
    const int64_t units =
        static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    const int64_t since = units - kUnixEpochFileTime;
    return since >= 0 ? since / 10000000LL : -((-since + 9999999LL) / 10000000LL);
}

}  // namespace

FileHandle FileOpen(const char* path, FileMode mode, FileStatus* status)
{
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (mode == FileMode::ReadWrite) access |= GENERIC_WRITE;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (mode == FileMode::Create) {
        access |= GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
    }
    if (mode == FileMode::CreateNew) {
        // The reparse point itself, never its target: a link of the name
        // makes CREATE_NEW fail.
        access |= GENERIC_WRITE;
        disposition = CREATE_NEW;
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    HANDLE h = CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, flags,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return kNoFile;
    if (status) {
        // Disks and volumes answer no file information: no size, no time.
        BY_HANDLE_FILE_INFORMATION info;
        const bool known = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
                           !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        status->size = known ? static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
                                                    info.nFileSizeLow)
                             : -1;
        status->modified = known ? UnixSecondsOf(info.ftLastWriteTime) : 0;
    }
    return reinterpret_cast<FileHandle>(h);
}

void FileClose(FileHandle file)
{
    if (file != kNoFile) CloseHandle(Handle(file));
}

int64_t FileRead(FileHandle file, void* buffer, size_t count)
{
    if (int64_t faulty; PcFileReadFault(&faulty)) return faulty;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        DWORD moved = 0;
        if (!ReadFile(Handle(file), p + done, Chunk(count - done), &moved, nullptr)) return -1;
        if (moved == 0) break;
        done += moved;
    }
    return static_cast<int64_t>(done);
}

int64_t FileWrite(FileHandle file, const void* buffer, size_t count)
{
    if (int64_t faulty; PcFileWriteFault(&faulty)) return faulty;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        DWORD moved = 0;
        if (!WriteFile(Handle(file), p + done, Chunk(count - done), &moved, nullptr)) return -1;
        if (moved == 0) break;
        done += moved;
    }
    return static_cast<int64_t>(done);
}

int64_t FileReadAt(FileHandle file, void* buffer, size_t count, uint64_t offset)
{
    return TransferAt<false>(file, static_cast<uint8_t*>(buffer), count, offset);
}

int64_t FileWriteAt(FileHandle file, const void* buffer, size_t count, uint64_t offset)
{
    // WriteFile does not change the bytes; the cast only shares the loop.
    return TransferAt<true>(file, static_cast<uint8_t*>(const_cast<void*>(buffer)), count, offset);
}

// Drives are reached through the device layers, not opened as files.
uint32_t FileDeviceSectorSize(FileHandle) { return 0; }

int64_t FileSize(FileHandle file)
{
    LARGE_INTEGER size{};
    if (GetFileSizeEx(Handle(file), &size)) return size.QuadPart;
    // Disks and volumes have no file size; ask the device.
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (DeviceIoControl(Handle(file), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned,
                        nullptr))
        return length.Length.QuadPart;
    return -1;
}

bool FileFlush(FileHandle file) { return FlushFileBuffers(Handle(file)) != 0; }

FileLockResult FileLock(FileHandle file, bool exclusive, unsigned waitMilliseconds)
{
    constexpr unsigned kStepMilliseconds = 50;
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    for (unsigned waited = 0;; waited += kStepMilliseconds) {
        // The whole range a file can have, so the lock covers it however it grows.
        OVERLAPPED at{};
        if (LockFileEx(Handle(file), flags, 0, MAXDWORD, MAXDWORD, &at)) return FileLockResult::Locked;
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_SHARING_VIOLATION && error != ERROR_IO_PENDING)
            return FileLockResult::Unsupported;  // devices and some redirectors take no byte-range locks
        if (waited >= waitMilliseconds) return FileLockResult::Busy;
        Sleep(kStepMilliseconds);
    }
}

bool FileExists(const char* path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

PathKind GetPathKind(const char* path)
{
    // The attributes are those of a reparse point itself, not of its target.
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::Other;
    return PathKind::Regular;
}

bool FileIsWritable(const char* path)
{
    const std::wstring wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
    HANDLE h =
        CreateFileW(wide.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool FileDelete(const char* path) { return DeleteFileW(Wide(path).c_str()) != 0; }

bool FileRename(const char* from, const char* to) { return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), 0) != 0; }

bool FileReplace(const char* from, const char* to)
{
    // A link of the name is replaced as an entry; MoveFileEx does not follow it.
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool FileSetModifiedTime(const char* path, int64_t unixSeconds)
{
    if (unixSeconds < -kUnixEpochFileTime / 10000000LL || unixSeconds > (INT64_MAX - kUnixEpochFileTime) / 10000000LL)
        return false;
    int64_t units = unixSeconds * 10000000LL + kUnixEpochFileTime;
    FILETIME modified;
    modified.dwLowDateTime = static_cast<DWORD>(units);
    modified.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(units) >> 32);
    HANDLE h = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = SetFileTime(h, nullptr, nullptr, &modified) != 0;
    CloseHandle(h);
    return ok;
}

bool FileModifiedTime(const char* path, int64_t* unixSeconds)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return false;
    *unixSeconds = UnixSecondsOf(data.ftLastWriteTime);
    return true;
}

bool GetFileIdentity(FileHandle file, FileIdentity* identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(Handle(file), &info) ||
        !GetFileInformationByHandleEx(Handle(file), FileBasicInfo, &basic, sizeof basic))
        return false;
    identity->regular = GetFileType(Handle(file)) == FILE_TYPE_DISK &&
                        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                        (info.nFileIndexHigh | info.nFileIndexLow) != 0;
    identity->device = info.dwVolumeSerialNumber;
    identity->file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    identity->size = static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    identity->changedNs = (basic.ChangeTime.QuadPart - kUnixEpochFileTime) * 100;
    identity->modifiedNs = (basic.LastWriteTime.QuadPart - kUnixEpochFileTime) * 100;
    return true;
}
