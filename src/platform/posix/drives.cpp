// Drives on POSIX: one tree under one root, and the space of the file
// system holding a path.
#include <sys/statvfs.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

bool GetDriveSpace(const char* path, uint64_t* freeBytes, uint64_t* totalBytes)
{
    *freeBytes = 0;
    *totalBytes = 0;
    struct statvfs fs;
    if (statvfs(path[0] ? path : ".", &fs) != 0) return false;
    const uint64_t unit = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
    *freeBytes = static_cast<uint64_t>(fs.f_bavail) * unit;
    *totalBytes = static_cast<uint64_t>(fs.f_blocks) * unit;
    return true;
}

int ListLogicalDrives(LogicalDrive* out, int maxCount)
{
    if (maxCount < 1) return 0;
    std::snprintf(out[0].name, sizeof out[0].name, "/");
    out[0].kind = kDriveFixed;
    return 1;
}

bool DriveStartDirectory(const char* name, char* out, size_t outSize)
{
    if (std::strcmp(name, "/") != 0 || outSize < 2 || !IsDirectory("/")) return false;
    std::snprintf(out, outSize, "/");
    return true;
}

void DriveOfPath(const char* path, char* name, size_t nameSize)
{
    if (nameSize == 0) return;
    std::snprintf(name, nameSize, "%s", path[0] == '/' ? "/" : "");
}
