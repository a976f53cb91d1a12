// Directories and drives on Windows through the ANSI calls.
#include "platform/platform.h"

#include <cstdio>
#include <cstring>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

constexpr int64_t kUnixEpochFileTime = 116444736000000000LL;

int64_t UnixSeconds(const FILETIME& ft)
{
    int64_t units = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    int64_t since = units - kUnixEpochFileTime;
    // Whole seconds, rounded towards the past like POSIX times.
    return since >= 0 ? since / 10000000 : -((-since + 9999999) / 10000000);
}

}  // namespace

bool GetCurrentDir(char* out, size_t outSize)
{
    if (outSize == 0) return false;
    DWORD size = outSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(outSize);
    DWORD n = GetCurrentDirectoryA(size, out);
    if (n == 0 || n >= size) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool SetCurrentDir(const char* path) { return path[0] != 0 && SetCurrentDirectoryA(path) != 0; }

bool SetCurrentDrive(int driveNumber)
{
    if (driveNumber < 1 || driveNumber > 26) return false;
    // "X:" alone selects the drive and returns to its own current directory.
    char drive[3] = {static_cast<char>('A' + driveNumber - 1), ':', 0};
    return SetCurrentDirectoryA(drive) != 0;
}

bool MakeDir(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }

bool RemoveDir(const char* path) { return RemoveDirectoryA(path) != 0; }

bool IsDirectory(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ListDir(const char* path, bool (*visit)(const DirEntry& entry, void* context), void* context)
{
    size_t length = std::strlen(path);
    char last = length > 0 ? path[length - 1] : 0;
    bool needsSeparator = length > 0 && last != '\\' && last != '/' && last != ':';
    char pattern[MAX_PATH + 4];
    int n = std::snprintf(pattern, sizeof pattern, "%s%s*", path, needsSeparator ? "\\" : "");
    if (n <= 0 || static_cast<size_t>(n) >= sizeof pattern) return false;

    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(pattern, &found);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND && IsDirectory(path);
    do {
        const char* name = found.cFileName;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        DirEntry entry{};
        std::snprintf(entry.name, sizeof entry.name, "%s", name);
        // A symbolic link or junction is a reparse point: listed as a link,
        // never as the directory or file it leads to.
        DWORD attributes = found.dwFileAttributes;
        entry.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? PathKind::Link
                     : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? PathKind::Directory
                     : (attributes & FILE_ATTRIBUTE_DEVICE)      ? PathKind::Other
                                                                 : PathKind::Regular;
        entry.isDirectory = entry.kind == PathKind::Directory;
        entry.isHidden = (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
        entry.size = entry.isDirectory ? 0 : (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        entry.modified = UnixSeconds(found.ftLastWriteTime);
        if (!visit(entry, context)) break;
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return true;
}
