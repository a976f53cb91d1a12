// Files on POSIX: plain descriptors with 64-bit offsets. A block device
// (an unmounted disk such as /dev/sdb) is opened like any file; its size
// comes from the device itself.
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

namespace {

int Fd(FileHandle file) { return static_cast<int>(file); }

// One system call moves at most this much, so the count always fits ssize_t.
constexpr size_t kMaxChunk = 1u << 30;

size_t Chunk(size_t remaining) { return remaining < kMaxChunk ? remaining : kMaxChunk; }

bool OffsetFits(uint64_t offset, size_t count)
{
    return offset <= static_cast<uint64_t>(INT64_MAX) - count;
}

}  // namespace

FileHandle FileOpen(const char* path, FileMode mode, FileStatus* status)
{
    // Opening a FIFO for reading waits for a writer unless O_NONBLOCK is
    // given; the flag is cleared again once the file is open.
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileMode::Read: flags |= O_RDONLY | O_NONBLOCK; break;
    case FileMode::ReadWrite: flags |= O_RDWR; break;
    case FileMode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case FileMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    }
    int fd;
    do {
        fd = open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kNoFile;
    // A file just created exclusively is a new, empty regular file.
    if (mode == FileMode::CreateNew && !status) return fd;
    // Directories open fine for reading on POSIX; as files they are useless.
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) ||
        ((flags & O_NONBLOCK) && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
        close(fd);
        return kNoFile;
    }
    if (status) {
        status->size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1;
        status->modified = static_cast<int64_t>(st.st_mtime);
    }
    return fd;
}

void FileClose(FileHandle file)
{
    if (file != kNoFile) close(Fd(file));
}

int64_t FileRead(FileHandle file, void* buffer, size_t count)
{
    if (int64_t faulty; PcFileReadFault(&faulty)) return faulty;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = read(Fd(file), p + done, Chunk(count - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t FileWrite(FileHandle file, const void* buffer, size_t count)
{
    if (int64_t faulty; PcFileWriteFault(&faulty)) return faulty;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(Fd(file), p + done, Chunk(count - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t FileReadAt(FileHandle file, void* buffer, size_t count, uint64_t offset)
{
    if (!OffsetFits(offset, count)) return -1;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = pread(Fd(file), p + done, Chunk(count - done), static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t FileWriteAt(FileHandle file, const void* buffer, size_t count, uint64_t offset)
{
    if (!OffsetFits(offset, count)) return -1;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = pwrite(Fd(file), p + done, Chunk(count - done), static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t FileSize(FileHandle file)
{
    struct stat st;
    if (fstat(Fd(file), &st) != 0) return -1;
    if (S_ISBLK(st.st_mode)) {
#if defined(BLKGETSIZE64)
        uint64_t bytes = 0;
        if (ioctl(Fd(file), BLKGETSIZE64, &bytes) == 0 && bytes <= static_cast<uint64_t>(INT64_MAX))
            return static_cast<int64_t>(bytes);
#endif
        // Seeking to the end gives a device's size where the ioctl is missing.
        off_t end = lseek(Fd(file), 0, SEEK_END);
        return end < 0 ? -1 : static_cast<int64_t>(end);
    }
    return static_cast<int64_t>(st.st_size);
}

uint32_t FileDeviceSectorSize(FileHandle file)
{
    struct stat st;
    if (fstat(Fd(file), &st) != 0 || !S_ISBLK(st.st_mode)) return 0;
#if defined(BLKSSZGET)
    int size = 0;
    if (ioctl(Fd(file), BLKSSZGET, &size) == 0 && size > 0) return static_cast<uint32_t>(size);
#endif
    return 0;
}

bool FileFlush(FileHandle file) { return fsync(Fd(file)) == 0; }

namespace {

// One attempt: 1 locked, 0 held by another open of the file, -1 no locks here.
int TryLockOnce(int fd, bool exclusive)
{
#if defined(F_OFD_SETLK)
    // Open-file-description locks belong to this open of the file, not to
    // the process, so two opens in one process exclude each other too; they
    // also conflict with classic fcntl locks taken by other programs.
    struct flock range{};
    range.l_type = static_cast<short>(exclusive ? F_WRLCK : F_RDLCK);
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0;  // to the end, however far the file grows
    if (fcntl(fd, F_OFD_SETLK, &range) == 0) return 1;
    if (errno == EAGAIN || errno == EACCES) return 0;
    if (errno != EINVAL) return -1;
    // EINVAL: a kernel without OFD locks; flock has the same ownership.
#endif
    if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return 1;
    return errno == EWOULDBLOCK ? 0 : -1;
}

}  // namespace

FileLockResult FileLock(FileHandle file, bool exclusive, unsigned waitMilliseconds)
{
    constexpr unsigned kStepMilliseconds = 50;
    for (unsigned waited = 0;; waited += kStepMilliseconds) {
        int got;
        do {
            got = TryLockOnce(Fd(file), exclusive);
        } while (got < 0 && errno == EINTR);
        if (got > 0) return FileLockResult::Locked;
        if (got < 0) return FileLockResult::Unsupported;
        if (waited >= waitMilliseconds) return FileLockResult::Busy;
        struct timespec step{0, kStepMilliseconds * 1000000L};
        while (nanosleep(&step, &step) != 0 && errno == EINTR) {
        }
    }
}

bool FileExists(const char* path)
{
    struct stat st;
    return lstat(path, &st) == 0;
}

PathKind GetPathKind(const char* path)
{
    struct stat st;
    if (lstat(path, &st) != 0) return PathKind::Missing;
    if (S_ISREG(st.st_mode)) return PathKind::Regular;
    if (S_ISDIR(st.st_mode)) return PathKind::Directory;
    if (S_ISLNK(st.st_mode)) return PathKind::Link;
    return PathKind::Other;
}

bool FileIsWritable(const char* path) { return access(path, W_OK) == 0; }

bool FileDelete(const char* path) { return unlink(path) == 0; }

bool FileRename(const char* from, const char* to)
{
    // Renaming onto an existing entry fails, as it does on Windows; renaming
    // an entry onto itself is allowed.
    struct stat target, source;
    if (lstat(to, &target) == 0) {
        if (lstat(from, &source) != 0) return false;
        if (source.st_dev != target.st_dev || source.st_ino != target.st_ino) {
            errno = EEXIST;
            return false;
        }
    }
    return std::rename(from, to) == 0;
}

bool FileReplace(const char* from, const char* to)
{
    struct stat old;
    if (lstat(to, &old) == 0 && S_ISREG(old.st_mode)) chmod(from, old.st_mode & 07777);
    return std::rename(from, to) == 0;
}

bool FileSetModifiedTime(const char* path, int64_t unixSeconds)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(unixSeconds);
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool FileModifiedTime(const char* path, int64_t* unixSeconds)
{
    struct stat st;
    if (stat(path, &st) != 0) return false;
    *unixSeconds = static_cast<int64_t>(st.st_mtime);
    return true;
}


bool GetFileIdentity(FileHandle file, FileIdentity* identity)
{
    struct stat st;
    if (fstat(Fd(file), &st) != 0) return false;
    identity->regular = S_ISREG(st.st_mode);
    identity->device = static_cast<uint64_t>(st.st_dev);
    identity->file = static_cast<uint64_t>(st.st_ino);
    identity->size = static_cast<int64_t>(st.st_size);
#if defined(__APPLE__)
    const struct timespec changed = st.st_ctimespec, modified = st.st_mtimespec;
#else
    const struct timespec changed = st.st_ctim, modified = st.st_mtim;
#endif
    identity->changedNs = int64_t{changed.tv_sec} * 1000000000 + changed.tv_nsec;
    identity->modifiedNs = int64_t{modified.tv_sec} * 1000000000 + modified.tv_nsec;
    return true;
}
