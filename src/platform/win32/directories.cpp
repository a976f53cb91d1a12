// Directories on Windows through the wide calls: names are converted between
// the engine's Windows-1252 and UTF-16 at each call.
#include "platform/platform.h"

#include <cstdio>
#include <cstring>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <vector>

#include "platform/win32/wide.h"

using pcname::Ansi;
using pcname::CopyAnsi;
using pcname::Wide;

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
    out[0] = 0;
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return false;
    std::vector<wchar_t> wide(needed);
    const DWORD n = GetCurrentDirectoryW(needed, wide.data());
    return n != 0 && n < needed && CopyAnsi(Ansi(wide.data(), n), out, outSize);
}

bool SetCurrentDir(const char* path) { return path[0] != 0 && SetCurrentDirectoryW(Wide(path).c_str()) != 0; }

bool SetCurrentDrive(int driveNumber)
{
    if (driveNumber < 1 || driveNumber > 26) return false;
    // "X:" alone selects the drive and returns to its own current directory.
    const wchar_t drive[3] = {static_cast<wchar_t>(L'A' + driveNumber - 1), L':', 0};
    return SetCurrentDirectoryW(drive) != 0;
}

bool MakeDir(const char* path) { return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0; }

bool RemoveDir(const char* path) { return RemoveDirectoryW(Wide(path).c_str()) != 0; }

bool IsDirectory(const char* path)
{
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ListDir(const char* path, bool (*visit)(const DirEntry& entry, void* context), void* context)
{
    size_t length = std::strlen(path);
    char last = length > 0 ? path[length - 1] : 0;
    bool needsSeparator = length > 0 && last != '\\' && last != '/' && last != ':';
    const std::wstring pattern = Wide(path) + (needsSeparator ? L"\\*" : L"*");

    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND && IsDirectory(path);
    do {
        const std::wstring_view wide = found.cFileName;
        if (wide == L"." || wide == L"..") continue;
        DirEntry entry{};
        // A character Windows-1252 lacks is listed as '?'.
        std::snprintf(entry.name, sizeof entry.name, "%s", Ansi(found.cFileName).c_str());
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
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return true;
}
