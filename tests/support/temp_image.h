// Disk images for tests: a scratch directory, files with given bytes, and an
// image file opened as a drive.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "disk/image_drive.h"
#include "platform/platform.h"
#include "ui/program_state.h"

struct DriveEntry;
struct ImageSlot;

// Resets the whole program's state before and after each test.
class DiskStateTest : public ::testing::Test {
protected:
    void SetUp() override { ResetProgramState(); }
    void TearDown() override { ResetProgramState(); }
};

// A new, empty directory under the system's temporary directory, removed
// with everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string PathOf(const std::string& name) const;
    // Writes `bytes` as the file `name` (replacing it) and returns its path.
    std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::string path_;
};

// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// What another program asking now for the write lock on `path` gets.
FileLockResult OthersLock(const std::string& path);

// Every regular file under `root`, by its path relative to `root`.
std::map<std::string, std::vector<uint8_t>> ReadFileTree(const std::string& root);

// A length-prefixed Mac name as a string of its bytes.
inline std::string MacString(const uint8_t* name)
{
    return std::string(reinterpret_cast<const char*>(name + 1), name[0]);
}

// `size` bytes in which every byte depends on its offset and `seed`, so a
// block that lands in the wrong place or comes from the wrong image shows.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed = 0);

// An image file of `bytes` in its own TempDir, opened in an image slot
// (sector size 512 or 2048) and added to DriveTable; `drive` is null when
// that failed. The destructor closes the slot if it is still this image's.
struct TempImage {
    explicit TempImage(const std::vector<uint8_t>& bytes, uint32_t sectorSize = 512, bool writable = true,
                       const std::string& name = "disk.img");
    ~TempImage();
    TempImage(const TempImage&) = delete;
    TempImage& operator=(const TempImage&) = delete;

    std::vector<uint8_t> Bytes() const { return ReadFileBytes(path); }
    ImageSlot& Slot() const;

    TempDir dir;
    std::string path;
    int slot = -1;
    DriveEntry* drive = nullptr;
};
