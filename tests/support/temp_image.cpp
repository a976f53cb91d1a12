#include "support/temp_image.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "disk/drive_table.h"
#include "disk/image_drive.h"

namespace fs = std::filesystem;

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    std::error_code error;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("quaylink-test-" + std::to_string(random()) + "-" +
                                                                std::to_string(counter++));
        if (fs::create_directory(candidate, error)) path_ = candidate.string();
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir()
{
    std::error_code error;
    // Files made read only by a test must not keep the directory alive.
    for (const auto& item : fs::recursive_directory_iterator(path_, error))
        fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

std::string TempDir::PathOf(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::string TempDir::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const
{
    const std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

FileLockResult OthersLock(const std::string& path)
{
    const FileHandle f = FileOpen(path.c_str(), FileMode::ReadWrite);
    const FileLockResult r = FileLock(f, true, 0);
    FileClose(f);
    return r;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    // In one read: some images are large.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

std::map<std::string, std::vector<uint8_t>> ReadFileTree(const std::string& root)
{
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file())
            files[fs::relative(e.path(), root).generic_string()] = ReadFileBytes(e.path().string());
    }
    return files;
}

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        // Block number, offset in the block and seed all change the byte.
        uint64_t x = (i / 512) * 2654435761u + (i % 512) * 40503u + uint64_t{seed} * 0x9E3779B9u + 1;
        x ^= x >> 13;
        x *= 0xFF51AFD7ED558CCDull;
        bytes[i] = static_cast<uint8_t>(x ^ (x >> 29) ^ (x >> 47));
    }
    return bytes;
}

TempImage::TempImage(const std::vector<uint8_t>& bytes, uint32_t sectorSize, bool writable, const std::string& name)
{
    path = dir.WriteFile(name, bytes);
    slot = OpenImage(path.c_str(), sectorSize, writable);
    if (slot >= 0) drive = AddImageDrive(slot);
}

TempImage::~TempImage()
{
    if (slot >= 0 && ImageTable[slot].used && path == ImageTable[slot].path) CloseImage(slot);
}

ImageSlot& TempImage::Slot() const
{
    if (slot < 0) throw std::logic_error("image not open");
    return ImageTable[slot];
}
