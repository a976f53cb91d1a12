// The catalog's records as a file system: record kinds and lengths, unique
// IDs, folders and their threads, file threads, each item's parent folder,
// valences, the MDB's file and folder counters and its next catalog ID.
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "hfs/check_context.h"

namespace {

bool IsFolder(const CatalogEntry& e) { return e.type == kFolderRecord; }

uint32_t ItemId(const CatalogEntry& e)
{
    return GetU32(e.data + (IsFolder(e) ? unsigned{kFolderId} : unsigned{kFileRecFileId}));
}

std::string Where(const CatalogEntry& e)
{
    return "node " + std::to_string(e.node) + " record " + std::to_string(e.index);
}

// "folder "Name" (ID 17)" or "file "Name" (ID 20)".
std::string ItemText(const CatalogEntry& e)
{
    return std::string(IsFolder(e) ? "folder " : "file ") + QuotedMacName(e.name) + " (ID " +
           std::to_string(ItemId(e)) + ")";
}

bool SameName(const uint8_t* a, const uint8_t* b) { return a[0] == b[0] && std::memcmp(a + 1, b + 1, a[0]) == 0; }

struct CatalogIndex {
    std::unordered_map<uint32_t, size_t> items;          // by folder ID or file number
    std::unordered_map<uint32_t, size_t> threads;        // by the ID in the thread's key
    std::unordered_map<uint32_t, unsigned> children;     // items per parent ID
    std::vector<size_t> itemOrder;                       // indexed items and threads, in key order
    std::vector<size_t> threadOrder;
    size_t folders = 0;
    size_t files = 0;
    unsigned rootFolders = 0;
    unsigned rootFiles = 0;
    uint32_t highestId = 0;
    const CatalogEntry* highest = nullptr;
};

// Checks each record on its own and indexes the usable ones.
void IndexRecords(CheckContext* ctx, CatalogIndex* index)
{
    for (size_t i = 0; i < ctx->catalog.size(); ++i) {
        const CatalogEntry& e = ctx->catalog[i];
        const uint8_t type = e.type;
        if (e.fault == CatalogRecordFault::NoData || e.fault == CatalogRecordFault::UnknownType) {
            Problem(ctx, "catalog: record (parent %u, %s) in %s has unknown type %u", e.parentId,
                    QuotedMacName(e.name).c_str(), Where(e).c_str(), type);
            continue;
        }
        const unsigned expected = CatalogRecordSize(type);
        const char* const kind = type == kFolderRecord         ? "folder"
                                 : type == kFileRecord         ? "file"
                                 : type == kFolderThreadRecord ? "folder thread"
                                                               : "file thread";
        // A record longer than its type is still usable; a shorter one is not.
        if (e.dataSize != expected) {
            Problem(ctx, "catalog: %s record (parent %u, %s) in %s is %u bytes, not %u", kind, e.parentId,
                    QuotedMacName(e.name).c_str(), Where(e).c_str(), e.dataSize, expected);
            if (e.fault == CatalogRecordFault::Short) continue;
        }
        if (type == kFolderThreadRecord || type == kFileThreadRecord) {
            if (e.name[0] != 0)
                Problem(ctx, "catalog: %s record for ID %u in %s has the name %s in its key", kind, e.parentId,
                        Where(e).c_str(), QuotedMacName(e.name).c_str());
            if (index->threads.emplace(e.parentId, i).second) index->threadOrder.push_back(i);
            continue;
        }
        const uint32_t id = ItemId(e);
        if (id == 0 || (id < kFirstUserId && id != kRootFolderId) || (id == kRootFolderId && !IsFolder(e))) {
            Problem(ctx, "catalog: %s in %s has a reserved ID", ItemText(e).c_str(), Where(e).c_str());
        }
        if (e.name[0] == 0) Problem(ctx, "catalog: %s in %s has an empty name", ItemText(e).c_str(), Where(e).c_str());
        const bool isRoot = IsFolder(e) && id == kRootFolderId;
        if (isRoot != (e.parentId == kRootParentId)) {
            if (isRoot)
                Problem(ctx, "catalog: the root folder lies in parent %u, not 1", e.parentId);
            else
                Problem(ctx, "catalog: %s lies in parent 1, beside the root folder", ItemText(e).c_str());
        }
        // Every item counts where it lies, even one whose ID is taken.
        ++index->children[e.parentId];
        if (IsFolder(e)) {
            ++index->folders;
            if (e.parentId == kRootFolderId) ++index->rootFolders;
        } else {
            ++index->files;
            if (e.parentId == kRootFolderId) ++index->rootFiles;
        }
        const auto [it, inserted] = index->items.emplace(id, i);
        if (!inserted) {
            Problem(ctx, "catalog: %s and %s share one ID", ItemText(ctx->catalog[it->second]).c_str(),
                    ItemText(e).c_str());
            continue;
        }
        index->itemOrder.push_back(i);
        if (id > index->highestId) {
            index->highestId = id;
            index->highest = &e;
        }
    }
}

void CheckThreads(CheckContext* ctx, const CatalogIndex& index)
{
    for (size_t i : index.itemOrder) {
        const CatalogEntry& e = ctx->catalog[i];
        const auto thread = index.threads.find(ItemId(e));
        if (thread == index.threads.end()) {
            if (IsFolder(e)) Problem(ctx, "catalog: %s has no thread record", ItemText(e).c_str());
            continue;
        }
        const CatalogEntry& t = ctx->catalog[thread->second];
        const bool folderThread = t.type == kFolderThreadRecord;
        if (folderThread != IsFolder(e)) {
            Problem(ctx, "catalog: %s has a %s thread record", ItemText(e).c_str(),
                    folderThread ? "folder" : "file");
            continue;
        }
        const uint32_t threadParent = GetU32(t.data + kThreadParentId);
        const Str31 name(t.data + kThreadName);
        // A name that differs is harmless: the folder record is found by
        // its parent and its own name, and a rename rewrites the thread.
        if (threadParent != e.parentId || !SameName(name.bytes, e.name))
            Problem(ctx, threadParent != e.parentId ? ProblemSeverity::Blocking : ProblemSeverity::Harmless,
                    "catalog: the thread record of %s gives parent %u and name %s, its record parent %u",
                    ItemText(e).c_str(), threadParent, QuotedMacName(name.bytes).c_str(), e.parentId);
    }
    for (size_t i : index.threadOrder) {
        const CatalogEntry& t = ctx->catalog[i];
        const uint32_t id = t.parentId;
        if (index.items.count(id) != 0) continue;
        Problem(ctx, "catalog: %s thread record in %s is for ID %u, which has no %s record",
                t.type == kFolderThreadRecord ? "folder" : "file", Where(t).c_str(), id,
                t.type == kFolderThreadRecord ? "folder" : "file");
    }
}

// Every item's parent must be a folder, and every folder must lie below the
// root: following parents from a folder must not loop.
void CheckParents(CheckContext* ctx, const CatalogIndex& index)
{
    enum : uint8_t { kUnknown, kOnPath, kBelowRoot, kDetached };
    std::unordered_map<uint32_t, uint8_t> state;
    for (size_t i : index.itemOrder) {
        const CatalogEntry& e = ctx->catalog[i];
        // The root's place and items beside it are reported with the records.
        if (e.parentId == kRootParentId || (IsFolder(e) && ItemId(e) == kRootFolderId)) continue;
        const auto parent = index.items.find(e.parentId);
        if (parent == index.items.end()) {
            Problem(ctx, "catalog: %s lies in folder %u, which does not exist", ItemText(e).c_str(), e.parentId);
        } else if (!IsFolder(ctx->catalog[parent->second])) {
            Problem(ctx, "catalog: %s lies in %s, which is a file", ItemText(e).c_str(),
                    ItemText(ctx->catalog[parent->second]).c_str());
        }
    }
    for (size_t i : index.itemOrder) {
        const uint32_t start = ItemId(ctx->catalog[i]);
        if (!IsFolder(ctx->catalog[i]) || state[start] != kUnknown) continue;
        // Climb until the root, a folder already decided, a missing parent or
        // the path itself; then decide every folder on the path.
        std::vector<uint32_t> path;
        uint32_t id = start;
        uint8_t outcome = kDetached;
        for (;;) {
            if (id == kRootFolderId) {
                outcome = kBelowRoot;
                break;
            }
            const uint8_t seen = state[id];
            if (seen == kBelowRoot || seen == kDetached) {
                outcome = seen;
                break;
            }
            if (seen == kOnPath) {
                Problem(ctx, "catalog: %s is not below the root: its parent folders form a loop",
                        ItemText(ctx->catalog[index.items.at(id)]).c_str());
                break;
            }
            const auto it = index.items.find(id);
            if (it == index.items.end() || !IsFolder(ctx->catalog[it->second])) break;  // reported above
            state[id] = kOnPath;
            path.push_back(id);
            id = ctx->catalog[it->second].parentId;
        }
        for (uint32_t p : path) state[p] = outcome;
    }
}

void CheckCounts(CheckContext* ctx, const CatalogIndex& index)
{
    for (size_t i : index.itemOrder) {
        const CatalogEntry& e = ctx->catalog[i];
        if (!IsFolder(e)) continue;
        const auto n = index.children.find(ItemId(e));
        const unsigned held = n == index.children.end() ? 0 : n->second;
        const unsigned valence = GetU16(e.data + kFolderValence);
        if (valence != held)
            Problem(ctx, "catalog: %s has valence %u but holds %u item(s)", ItemText(e).c_str(), valence, held);
    }
    const uint8_t* mdb = MacVolume.mdb->data;
    const auto root = index.items.find(kRootFolderId);
    const bool hasRoot = root != index.items.end();
    if (!hasRoot) Problem(ctx, "catalog: the root folder (ID 2) is missing");
    if (hasRoot && !SameName(ctx->catalog[root->second].name, mdb + kMdbVolumeName))
        Problem(ctx, ProblemSeverity::Harmless, "catalog: the root folder is named %s, the volume %s",
                QuotedMacName(ctx->catalog[root->second].name).c_str(), QuotedMacName(mdb + kMdbVolumeName).c_str());
    const uint32_t folders = static_cast<uint32_t>(index.folders - (hasRoot ? 1 : 0));
    if (GetU16(mdb + kMdbRootFiles) != index.rootFiles)
        Problem(ctx, "MDB: counts %u files in the root folder, the catalog has %u", GetU16(mdb + kMdbRootFiles),
                index.rootFiles);
    if (GetU16(mdb + kMdbRootFolders) != index.rootFolders)
        Problem(ctx, "MDB: counts %u folders in the root folder, the catalog has %u", GetU16(mdb + kMdbRootFolders),
                index.rootFolders);
    if (GetU32(mdb + kMdbFileCount) != index.files)
        Problem(ctx, "MDB: counts %u files on the volume, the catalog has %u", GetU32(mdb + kMdbFileCount),
                static_cast<unsigned>(index.files));
    if (GetU32(mdb + kMdbFolderCount) != folders)
        Problem(ctx, "MDB: counts %u folders on the volume, the catalog has %u", GetU32(mdb + kMdbFolderCount),
                folders);
}

}  // namespace

void CheckCatalogRecords(CheckContext* ctx)
{
    CatalogIndex index;
    IndexRecords(ctx, &index);
    const uint32_t nextId = GetU32(MacVolume.mdb->data + kMdbNextCatalogId);
    if (index.highest && nextId <= index.highestId)
        Problem(ctx, "MDB: next catalog ID %u is not above %s", nextId, ItemText(*index.highest).c_str());
    for (size_t i : index.threadOrder) {
        const uint32_t id = ctx->catalog[i].parentId;
        if (nextId <= id && index.items.count(id) == 0)
            Problem(ctx, "MDB: next catalog ID %u is not above ID %u of a thread record", nextId, id);
    }
    // What is missing can only be told when every leaf was read.
    if (!ctx->catalogComplete) return;
    CheckThreads(ctx, index);
    CheckParents(ctx, index);
    CheckCounts(ctx, index);
}
