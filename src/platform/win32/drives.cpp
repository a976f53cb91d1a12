// Drives on Windows: the logical drive letters with their kinds, and the
// space of the drive holding a path.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "platform/win32/wide.h"

using pcname::Ansi;
using pcname::Wide;

namespace {

// The full path of `path` ("." when empty); empty when it cannot be had.
std::string FullPathOf(const char* path)
{
    const std::wstring wide = Wide(path[0] ? path : ".");
    wchar_t full[MAX_PATH];
    const DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return {};
    return Ansi(full, n);
}

// "C:\" for a path on drive C, "\\server\share\" for a network path; false
// for a relative path.
bool RootOf(const char* path, char* root, size_t rootSize)
{
    const std::string fullPath = FullPathOf(path);
    if (fullPath.empty()) return false;
    const char* full = fullPath.c_str();
    if (std::isalpha(static_cast<unsigned char>(full[0])) && full[1] == ':') {
        std::snprintf(root, rootSize, "%c:\\", full[0]);
        return true;
    }
    if (full[0] == '\\' && full[1] == '\\') {
        // Up to and including the separator after the share name.
        const char* p = full + 2;
        int separators = 0;
        while (*p && separators < 2) {
            if (*p == '\\') ++separators;
            ++p;
        }
        const size_t length = static_cast<size_t>(p - full);
        if (length + 1 > rootSize) return false;
        std::memcpy(root, full, length);
        root[length] = 0;
        if (separators < 2 && length + 2 <= rootSize) std::strcat(root, "\\");
        return true;
    }
    return false;
}

}  // namespace

bool GetDriveSpace(const char* path, uint64_t* freeBytes, uint64_t* totalBytes)
{
    *freeBytes = 0;
    *totalBytes = 0;
    char root[MAX_PATH];
    if (!RootOf(path, root, sizeof root)) return false;
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExW(Wide(root).c_str(), &available, &total, &totalFree)) return false;
    *freeBytes = available.QuadPart;
    *totalBytes = total.QuadPart;
    return true;
}

int ListLogicalDrives(LogicalDrive* out, int maxCount)
{
    wchar_t roots[256];
    DWORD n = GetLogicalDriveStringsW(256, roots);
    if (n == 0 || n >= 256) return 0;
    int count = 0;
    for (const wchar_t* root = roots; *root && count < maxCount; root += std::wcslen(root) + 1) {
        const UINT kind = GetDriveTypeW(root);
        if (root[0] > 0x7F) continue;  // drive letters are A to Z
        if (kind == DRIVE_UNKNOWN) continue;
        out[count].name[0] = static_cast<char>(std::toupper(static_cast<int>(root[0])));
        out[count].name[1] = ':';
        out[count].name[2] = 0;
        out[count].kind = kind;
        ++count;
    }
    return count;
}

bool DriveStartDirectory(const char* name, char* out, size_t outSize)
{
    if (!std::isalpha(static_cast<unsigned char>(name[0])) || name[1] != ':' || name[2] != 0) return false;
    // "D:" alone names the drive's own current directory.
    const std::string full = FullPathOf(name);
    if (full.empty() || full.size() >= outSize) return false;
    if (!IsDirectory(full.c_str())) return false;
    std::snprintf(out, outSize, "%s", full.c_str());
    return true;
}

void DriveOfPath(const char* path, char* name, size_t nameSize)
{
    if (nameSize == 0) return;
    name[0] = 0;
    char root[MAX_PATH];
    if (RootOf(path, root, sizeof root) && root[1] == ':' && nameSize >= 3)
        std::snprintf(name, nameSize, "%c:", std::toupper(static_cast<unsigned char>(root[0])));
}
