// A model of what a volume should hold after a run of writes: the folder
// tree, each file's type, creator and forks. Fork bytes are regenerated from
// a seed, so the model of a full volume costs no memory. RunEngineOp drives
// the engine as the desktop program's commands do, in the pane's current
// folder; EndCommand then flushes, or reports and so discards.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class HfsUtils;

void FillForkBytes(uint32_t seed, uint64_t offset, uint8_t* out, size_t size);

struct ShadowFork {
    uint32_t seed = 0;
    uint32_t size = 0;
    std::shared_ptr<const std::vector<uint8_t>> literal;  // set for forks found on a volume
    std::vector<uint8_t> Bytes() const;
};

struct ShadowFile {
    std::string type = "TEXT";      // four Mac characters
    std::string creator = "ttxt";
    ShadowFork data;
    ShadowFork rsrc;
};

// Catalog name order (letter case does not count): the map of a folder
// finds an existing name the way the catalog does.
struct MacNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct ShadowNode {
    bool folder = false;
    uint32_t id = 0;                 // folder ID; 0 when not known yet
    std::string name;                // Mac characters
    ShadowNode* parent = nullptr;    // null for the root
    ShadowFile file;                 // files
    std::map<std::string, std::unique_ptr<ShadowNode>, MacNameLess> children;  // folders

    std::string Path() const;        // ":" for the root, ":A:B" below it
    unsigned Depth() const;
};

// One change, as a command of the desktop program makes it.
struct WriteOp {
    enum Kind { CreateFolder, CreateFile, Rename, SetType, DeleteFile, DeleteFolder };
    Kind kind = CreateFolder;
    ShadowNode* folder = nullptr;    // the current folder the operation acts in
    std::string name;                // the item created or acted on
    std::string newName;             // Rename
    ShadowFile file;                 // CreateFile; SetType takes type and creator from it
    uint32_t created = 0;            // CreateFile: creation date, 0 for now
    uint32_t chunkSeed = 0;          // CreateFile: how the forks are cut into buffers
    uint32_t chunkBytes = 0;         // CreateFile: 0, buffers of random sizes; else buffers of this
                                     // many bytes, the two forks taking turns
};

inline WriteOp MakeWriteOp(WriteOp::Kind kind, ShadowNode* folder, const std::string& name)
{
    WriteOp op;
    op.kind = kind;
    op.folder = folder;
    op.name = name;
    return op;
}

class ShadowVolume {
public:
    ShadowVolume();
    // A deep copy, to keep the state of one moment.
    ShadowVolume Clone() const;

    ShadowNode* Root() { return root_.get(); }
    const ShadowNode* Root() const { return root_.get(); }
    // Reads the open volume's whole tree and every fork through the engine.
    bool LoadFromEngine(std::string* why = nullptr);
    // Finds the node at a path (":" or ":A:B"); null when it does not exist.
    ShadowNode* Find(const std::string& path);

    uint32_t Expect(const WriteOp& op) const;
    // Applies a completed operation; a created folder gets `newFolderId`.
    void Apply(const WriteOp& op, uint32_t newFolderId = 0);

    // Every folder, and every file, of the tree (in no particular order).
    std::vector<ShadowNode*> Folders();
    std::vector<ShadowNode*> Files();

private:
    std::unique_ptr<ShadowNode> root_;
};

// Operations on the engine. The volume must be open. Each leaves StatusCode
// as the engine left it and returns it; nothing is flushed.
uint32_t RunEngineOp(ShadowVolume* model, const WriteOp& op, uint32_t* newFolderId);
// Learns the IDs of folders whose ID is 0 from the open volume's catalog.
bool ResolveFolderIds(ShadowVolume* model, std::string* why);
// The end of a command: FlushVolume when `status` (the command's status) is
// 0, then ReportStatus when anything failed. Returns the first failure.
uint32_t EndCommand(uint32_t status);

bool EngineMatches(const ShadowVolume& model, bool bytes, std::string* why);
bool HfsUtilsMatches(HfsUtils& hfs, const ShadowVolume& model, bool bytes, unsigned rawEvery, std::string* why);

// Runs CheckVolume on the open volume; false with the problems in `why`.
bool VolumeIsClean(std::string* why);
