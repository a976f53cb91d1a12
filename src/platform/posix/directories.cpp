// Directories on POSIX. There are no drive letters: the only drive is 0.
#include "platform/platform.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

bool GetCurrentDir(char* out, size_t outSize)
{
    if (outSize == 0) return false;
    if (getcwd(out, outSize) == nullptr) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool SetCurrentDir(const char* path) { return path[0] != 0 && chdir(path) == 0; }

bool SetCurrentDrive(int driveNumber) { return driveNumber == 0; }

bool MakeDir(const char* path) { return mkdir(path, 0777) == 0; }

bool RemoveDir(const char* path) { return rmdir(path) == 0; }

bool IsDirectory(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListDir(const char* path, bool (*visit)(const DirEntry& entry, void* context), void* context)
{
    DIR* dir = opendir(path);
    if (dir == nullptr) return false;
    size_t pathLength = std::strlen(path);
    bool needsSlash = pathLength > 0 && path[pathLength - 1] != '/';
    while (struct dirent* d = readdir(dir)) {
        const char* name = d->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        DirEntry entry{};
        if (std::strlen(name) >= sizeof entry.name) continue;  // cannot be named to the engine
        std::memcpy(entry.name, name, std::strlen(name) + 1);
        entry.isHidden = name[0] == '.';

        char full[4096];
        int n = std::snprintf(full, sizeof full, "%s%s%s", path, needsSlash ? "/" : "", name);
        struct stat st;
        // Looked at without following a link: a link is listed as itself, with
        // its own size and time, and never taken for what it points to.
        if (n > 0 && static_cast<size_t>(n) < sizeof full && lstat(full, &st) == 0) {
            entry.kind = S_ISDIR(st.st_mode)   ? PathKind::Directory
                         : S_ISREG(st.st_mode) ? PathKind::Regular
                         : S_ISLNK(st.st_mode) ? PathKind::Link
                                               : PathKind::Other;
            entry.isDirectory = entry.kind == PathKind::Directory;
            entry.size = entry.isDirectory || st.st_size < 0 ? 0 : static_cast<uint64_t>(st.st_size);
            entry.modified = static_cast<int64_t>(st.st_mtime);
        } else {
            entry.kind = PathKind::Missing;
        }
        if (!visit(entry, context)) break;
    }
    closedir(dir);
    return true;
}
