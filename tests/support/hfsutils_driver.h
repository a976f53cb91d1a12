// The hfsutils command-line tools as a test oracle: they make the volumes we
// read, and tell what a volume holds.
//
// Each HfsUtils object has its own HOME, because hmount keeps the mounted
// volume in $HOME/.hcwd. libhfs writes to every volume it mounts, so
// MountCopy mounts a private copy when the image must stay as it is.
// HFS paths are colon-separated from the root (":Folder:File") in Mac
// characters; the tools expand * ? [ \ { in paths, so such paths are refused.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/macbinary_file.h"
#include "support/run_command.h"
#include "support/temp_image.h"

// One line of `hls -a -b -i -l -U`.
struct HlsEntry {
    uint32_t cnid = 0;
    bool folder = false;
    bool invisible = false;
    uint32_t valence = 0;        // folders
    uint32_t rsrcLength = 0;     // files
    uint32_t dataLength = 0;
    std::string name;            // Mac characters, unescaped
};

// Every folder's entries, keyed by the folder's path: ":" for the root,
// ":A:B" below it (Mac characters).
using HlsTree = std::map<std::string, std::vector<HlsEntry>>;

// True when `path` holds a character the tools would expand as a pattern.
bool HasHfsGlobCharacter(const std::string& path);

class HfsUtils {
public:
    HfsUtils() = default;
    HfsUtils(const HfsUtils&) = delete;
    HfsUtils& operator=(const HfsUtils&) = delete;

    // Makes `path` a file of `bytes` zero bytes, formats it with `label` and mounts it.
    bool Format(const std::string& path, const std::string& label, uint64_t bytes);
    // Mounts `path` (partition `partition` of a partitioned image when > 0).
    bool Mount(const std::string& path, int partition = 0);
    bool MountCopy(const std::string& path, int partition = 0);

    bool Mkdir(const std::string& hfsPath);
    // The PC file as the data fork of `hfsPath` (type "????", creator "UNIX").
    bool PutRaw(const std::string& localPath, const std::string& hfsPath);
    // Each (name, bytes) as the data fork of a file of that name in `hfsFolder` (":" or ":A:B:").
    bool PutRawFiles(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files,
                     const std::string& hfsFolder);
    // Each file as MacBinary into `hfsFolder`, named after its header.
    bool PutMacBinary(const std::vector<MacFileImage>& files, const std::string& hfsFolder);
    bool SetTypeCreator(const std::string& hfsPath, const std::string& type, const std::string& creator);
    bool SetInvisible(const std::string& hfsPath, bool invisible);
    bool Delete(const std::vector<std::string>& hfsPaths);
    // What hvol says the mounted volume has free, in bytes (0 when it cannot tell).
    uint64_t FreeBytes();

    // The data fork, as `hcopy -r` writes it.
    bool GetRaw(const std::string& hfsPath, std::vector<uint8_t>* out);
    // Both forks and the Finder information, as `hcopy -m` writes them.
    bool GetMacBinary(const std::string& hfsPath, MacFileImage* out);
    bool GetMacBinaryMany(const std::string& hfsFolder, const std::vector<std::string>& names,
                          std::map<std::string, MacFileImage>* out);
    // The whole volume through `hls -a -b -i -l -U -R`. (The tool sorts by
    // strcasecmp even with -U, so the order is not the catalog's.)
    bool List(HlsTree* out);

    // One of the tools with this object's HOME (and TZ=UTC).
    CommandResult Run(const std::string& tool, const std::vector<std::string>& args);

    const std::string& LastError() const { return lastError_; }

private:
    bool Check(const CommandResult& result, const std::string& what);
    bool CheckPaths(const std::vector<std::string>& hfsPaths);
    // Runs `tool` with `fixed`, then the arguments `many` in groups of 200, then `last`.
    bool RunInGroups(const std::string& tool, const std::vector<std::string>& fixed,
                     const std::vector<std::string>& many, const std::string& last);

    TempDir home_;
    TempDir scratch_;
    unsigned scratchCount_ = 0;
    std::string lastError_;
};

// True when the hfsutils tools are installed.
bool HfsUtilsAvailable();
