// The PC side of the program: files, directories, profile (INI) files, time
// and the program's own path. One header; a posix/ and a win32/
// implementation behind it.
//
// Paths handed to these functions are native: UTF-8 on POSIX, the ANSI code
// page (Windows-1252) on Windows. The engine keeps PC names as Windows-1252
// strings; AnsiToNative and NativeToAnsi convert at the boundary (identity on
// Windows).
#pragma once
#include <cstddef>
#include <cstdint>

// ---- names -----------------------------------------------------------------

// Windows-1252 to native. Returns false when `out` is too small.
bool AnsiToNative(const char* ansi, char* out, size_t outSize);
// Native to Windows-1252; characters without a Windows-1252 form become '?'.
bool NativeToAnsi(const char* native, char* out, size_t outSize);
// The path separator of the PC side: '\\' on Windows, '/' elsewhere.
char PathSeparator();

// ---- files -----------------------------------------------------------------

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

enum class FileMode {
    Read,        // existing file, reading; opening a FIFO does not wait for a writer
    ReadWrite,   // existing file, reading and writing
    Create,      // new or truncated file, writing
    CreateNew,   // new file only, writing: fails when the name exists in any form (a dangling link
                 // too), and never follows a link or reparse point
};

// What opening a file learned of it, for callers that ask.
struct FileStatus {
    int64_t size;        // bytes of a regular file; -1 for anything else (a device, a pipe)
    int64_t modified;    // seconds since 1970-01-01 UTC; 0 when unknown
};

FileHandle FileOpen(const char* path, FileMode mode, FileStatus* status = nullptr);
void FileClose(FileHandle file);
// Read/write at the current position; return bytes moved or -1.
int64_t FileRead(FileHandle file, void* buffer, size_t count);
int64_t FileWrite(FileHandle file, const void* buffer, size_t count);
// Positioned read/write (64-bit offsets); return bytes moved or -1.
int64_t FileReadAt(FileHandle file, void* buffer, size_t count, uint64_t offset);
int64_t FileWriteAt(FileHandle file, const void* buffer, size_t count, uint64_t offset);
// Size in bytes, or -1. For a block device, the device's size.
int64_t FileSize(FileHandle file);
// The logical sector size of a block device (512 for most disks, 2048 for a
// CD-ROM drive); 0 for a regular file, or where the system cannot tell.
uint32_t FileDeviceSectorSize(FileHandle file);
bool FileFlush(FileHandle file);

// An advisory lock on the whole of an open file, held until the handle is
// closed: shared (readers) or exclusive (a writer; the file must be open for
// writing). A lock held by another open of the file is retried every 50 ms
// for up to `waitMilliseconds`.
enum class FileLockResult {
    Locked,
    Busy,         // another program still held a conflicting lock when the wait ran out
    Unsupported,  // the file system or device takes no locks; the file is used unlocked
};
FileLockResult FileLock(FileHandle file, bool exclusive, unsigned waitMilliseconds);
// Whether anything has the name; a link counts (even a dangling one) and is
// not followed.
bool FileExists(const char* path);
bool FileIsWritable(const char* path);
bool FileDelete(const char* path);
bool FileRename(const char* from, const char* to);
// Puts the file `from` in place of `to` in one step, whether or not `to`
// exists: readers see the old file or the new one, never a mix. A link named
// `to` is itself replaced, never written through. The new file takes the
// permissions of a regular file it replaces. False (nothing changed) on failure.
bool FileReplace(const char* from, const char* to);

// What a name is, looked at without following a link (lstat; on Windows,
// the attributes, where a symbolic link or junction is a reparse point).
// Only a Regular file is read as a copy's source; Other is a FIFO, socket or
// device, which may block or never end.
enum class PathKind {
    Missing,     // nothing has the name (or it cannot be looked at)
    Regular,
    Directory,
    Link,
    Other,
};
PathKind GetPathKind(const char* path);
// Sets the modification time (seconds since 1970-01-01 UTC) of the file
// itself: a link of the name is not followed.
bool FileSetModifiedTime(const char* path, int64_t unixSeconds);
// The file's modification time (seconds since 1970-01-01 UTC); false when
// its status cannot be read.
bool FileModifiedTime(const char* path, int64_t* unixSeconds);

// Who an open file is and when it last changed, to tell later whether
// anything has written it since. The change time moves with every write and
// every change of the file's status, and no program can set it back.
struct FileIdentity {
    bool regular;         // a regular file (a device's times do not move when it is written)
    uint64_t device;      // the file system holding it
    uint64_t file;        // the file within that file system (inode, file index)
    int64_t size;
    int64_t changedNs;    // status change time, nanoseconds since 1970-01-01 UTC
    int64_t modifiedNs;   // data modification time, the same way
};
bool GetFileIdentity(FileHandle file, FileIdentity* identity);

// Test hook, never set by the program: makes the k-th FileRead or FileWrite
// (1-based, counted since the record was last cleared) fail with -1, or
// with `writeNothing` makes that write report 0 bytes moved.
struct PcFileFaultRecord {
    uint32_t failReadAt;     // 0: never
    uint32_t failWriteAt;    // 0: never
    bool writeNothing;
    uint32_t reads;          // calls so far
    uint32_t writes;
};
extern PcFileFaultRecord PcFileFaults;
// Counts the call; true (with the faulty result in *result) when it is the
// one to fail.
bool PcFileReadFault(int64_t* result);
bool PcFileWriteFault(int64_t* result);

// ---- directories -------------------------------------------------------------

// The current directory; false when it cannot be had or does not fit.
bool GetCurrentDir(char* out, size_t outSize);
bool SetCurrentDir(const char* path);
// Windows drive numbers (1 = A:); on POSIX only drive 0 (none) exists and
// the call fails for any other.
bool SetCurrentDrive(int driveNumber);
bool MakeDir(const char* path);
bool RemoveDir(const char* path);
bool IsDirectory(const char* path);

struct DirEntry {
    char name[260];      // native name
    PathKind kind;       // what the name itself is: a link is Link, never what it points to
    bool isDirectory;    // kind is Directory
    bool isHidden;
    uint64_t size;
    int64_t modified;    // seconds since 1970-01-01 UTC
};
// Calls `visit` for each entry of `path` except "." and "..", in no particular
// order; stops when it returns false. False when the directory cannot be read.
bool ListDir(const char* path, bool (*visit)(const DirEntry& entry, void* context), void* context);

// ---- drives ------------------------------------------------------------------

// Free and total bytes of the file system holding `path` (as the calling
// user may use them); false, both 0, when the system cannot say.
bool GetDriveSpace(const char* path, uint64_t* freeBytes, uint64_t* totalBytes);

// The kinds of logical drive, numbered as the Windows drive types.
enum : unsigned {
    kDriveUnknown = 0,
    kDriveNoRoot = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdrom = 5,
    kDriveRamDisk = 6,
};
struct LogicalDrive {
    char name[4];   // "C:" on Windows; "/" elsewhere, where there is one root
    unsigned kind;
};
// The logical drives, in the system's order, at most `maxCount`; returns
// how many were stored.
int ListLogicalDrives(LogicalDrive* out, int maxCount);
// The directory to show when drive `name` is chosen: on Windows the drive's
// own current directory ("D:" resolved), elsewhere the root. False when the
// name is no drive or its directory cannot be read (no medium).
bool DriveStartDirectory(const char* name, char* out, size_t outSize);
// The name of the drive holding the native path `path` (as above); empty
// when it has none.
void DriveOfPath(const char* path, char* name, size_t nameSize);

// ---- profile files ---------------------------------------------------------------
// The behaviour of the Windows private-profile calls: section and key names
// compared without regard to case, values trimmed of blanks, one pair of
// surrounding quotes removed, a missing file or key giving the default.

// Copies the value (or `defaultValue`) into `out`, at most outSize - 1
// characters, and returns the number copied.
unsigned ReadProfileString(const char* section, const char* key, const char* defaultValue, char* out,
                           unsigned outSize, const char* file);
// Writes key=value into the section, creating the file and section as needed.
#ifdef WriteProfileString  // <windows.h> has a macro of this name
#undef WriteProfileString
#endif
bool WriteProfileString(const char* section, const char* key, const char* value, const char* file);
// Reads every "key=value" line of a section into `out` as consecutive
// zero-terminated strings ending with an empty one (the form of Windows'
// GetPrivateProfileSection). Returns the characters copied.
unsigned ReadProfileSection(const char* section, char* out, unsigned outSize, const char* file);

// ---- time ------------------------------------------------------------------------

// The runtime's calendar time: seconds since 1970-01-01 00:00 UTC.
int64_t UnixNow();
// Seconds east of UTC of the PC's local time (zone and daylight saving) at
// an instant; 0 when the zone cannot say.
int64_t LocalUtcOffset(int64_t unixSeconds);
// Local wall-clock time counts seconds since 1970-01-01 00:00 as the PC's
// clock shows them. A reading the clock skips (the hour lost when daylight
// saving starts) is taken with the offset in force before the skip; one it
// shows twice (the hour a fall-back repeats) is the earlier instant.
int64_t UnixToLocalWall(int64_t unixSeconds);
int64_t LocalWallToUnix(int64_t wallSeconds);
// The packed DOS date (high 16 bits) and time (low 16 bits) of an instant in
// the PC's local time; 0 when the local year is outside 1980..2107.
uint32_t LocalDosDateTime(int64_t unixSeconds);
// The local time of day, one space and the long date of a packed DOS date
// and time, as the platform's locale shows them.
void FormatLocalTimeAndDate(uint32_t dosDateTime, char* out, size_t outSize);

// ---- the program -------------------------------------------------------------------

// Full native path of the running program; false when it cannot be had.
bool GetModulePath(char* out, size_t outSize);

// The directory where this user's programs keep data they can always make
// again ($XDG_CACHE_HOME or ~/.cache; %LOCALAPPDATA% on Windows). It may not
// exist yet. False when the environment names none.
bool GetUserCacheDir(char* out, size_t outSize);
