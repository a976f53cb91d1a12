#include "transfer/copy_walks.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/prefs.h"
#include "core/progress.h"
#include "core/status.h"
#include "hfs/btree_search.h"
#include "hfs/bytes.h"
#include "hfs/catalog_keys.h"
#include "hfs/catalog_ops.h"
#include "hfs/layout.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "transfer/pc_items.h"
#include "translate/names.h"
#include "translate/registry.h"

namespace {

bool SameLetters(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(*a) != lower(*b)) return false;
    }
    return *a == *b;
}

// The characters after the name's last '.' equal `extension`, case ignored;
// a name without '.' never does.
bool ExtensionIs(const char* name, const char* extension)
{
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr && SameLetters(dot + 1, extension);
}

bool CodeMatches(const uint8_t* code, const char* filter)
{
    if (filter[0] == 0) return true;
    uint8_t wanted[32];
    PcNameToMac(wanted, filter);
    return CompareMacNames(wanted, code) == 0;
}

void Count(uint32_t bytes)
{
    ++ProgressFileCount;
    ProgressTotal += bytes;
}

// Keeps what a walk changes for its length: the PC directory translators
// resolve names in, and the Mac pane's current folder.
class WalkScope {
public:
    WalkScope() : pcDirectory_(CurrentOptions.pcDirectory), pane_(MacPaneState) {}
    ~WalkScope()
    {
        CurrentOptions.pcDirectory = pcDirectory_;
        std::memcpy(MacPaneState.name, pane_.name, sizeof pane_.name);
        MacPaneState.parentId = pane_.parentId;
        MacPaneState.folderId = pane_.folderId;
    }
    WalkScope(const WalkScope&) = delete;
    WalkScope& operator=(const WalkScope&) = delete;

private:
    std::string pcDirectory_;
    MacPaneStateRecord pane_;
};

// The PC directory for the Mac folder `macName` inside `parent` (native):
// the cleaned, clash-settled name, made or entered. False when it is not to
// be entered: skipped or cancelled in the name question, or failed (14).
bool MakePcDirectoryFor(const uint8_t* macName, const std::string& parent, std::string* out)
{
    char name[256];
    MacNameToPc(name, macName, true);
    CurrentOptions.pcDirectory = parent;
    if (MakePcName(name, "") != kCollisionGoOn || StatusCode != 0) return false;
    if (!PcChildPath(parent, name, out)) {
        if (StatusCode == 0) StatusCode = kStatusCannotCreate;
        return false;
    }
    // An existing directory is entered; a link of the name is never followed.
    if (MakeDir(out->c_str()) || GetPathKind(out->c_str()) == PathKind::Directory) return true;
    if (StatusCode == 0) StatusCode = kStatusCannotCreate;
    return false;
}

void CopyMacFile(const MacCopyWalk& walk, const MacItem& item, uint32_t folderId, const std::string& directory)
{
    if (walk.hooks.fileStarting) {
        char shown[256];
        MacNameToPc(shown, item.name, true);
        walk.hooks.fileStarting(shown);
    }
    CurrentOptions.pcDirectory = directory;
    RunMacToPcTranslator(item.name, folderId);
    if (StatusCode == 0 && walk.hooks.fileDone) walk.hooks.fileDone();
}

bool PcItemSortsFirst(const PcItem& a, const PcItem& b)
{
    const auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
    const size_t n = std::min(a.name.size(), b.name.size());
    for (size_t i = 0; i < n; ++i) {
        const int x = lower(static_cast<unsigned char>(a.name[i]));
        const int y = lower(static_cast<unsigned char>(b.name[i]));
        if (x != y) return x < y;
    }
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.name < b.name;
}

// Makes the Mac folder for the PC directory `name` in `parent`, flushes it
// to the medium and answers it. False with StatusCode set (8: the name is taken).
bool MakeMacFolderFor(const std::string& name, const MacFolder& parent, MacFolder* out)
{
    uint8_t macName[32];
    PcNameToMac(macName, name.c_str());
    CreateFolderIn(parent, macName);
    if (StatusCode != 0) return false;
    FlushVolume();
    if (StatusCode != 0) return false;
    CatalogHit hit{};
    const Lookup found = FindCatalogRecord(CatalogRoot(), parent.id, macName, &hit);
    CatalogRecord record;
    if (found != Lookup::Found || !ReadCatalogRecord(hit.leaf, hit.offset, &record) ||
        record.type != kFolderRecord) {
        if (StatusCode == 0) StatusCode = kStatusCannotCreate;
        return false;
    }
    out->parentId = parent.id;
    std::memcpy(out->name, macName, sizeof out->name);
    out->id = GetU32(record.data + kFolderId);
    return true;
}

void CopyPcFile(const PcCopyWalk& walk, const PcItem& item, const std::string& directory, const MacFolder& folder)
{
    if (walk.hooks.fileStarting) walk.hooks.fileStarting(item.name.c_str());
    CurrentOptions.pcDirectory = directory;
    std::memcpy(MacPaneState.name, folder.name, sizeof folder.name);
    MacPaneState.parentId = folder.parentId;
    MacPaneState.folderId = folder.id;
    RunPcToMacTranslator(item.name.c_str(), folder.id);
    if (StatusCode != 0) return;
    FlushVolume();
    if (StatusCode == 0 && walk.hooks.fileDone) walk.hooks.fileDone();
}

}  // namespace

bool MacFilePasses(const MacItem& item, const MacCopyFilter& filter)
{
    if (!filter.on) return true;
    if (!CodeMatches(item.type, filter.type) || !CodeMatches(item.creator, filter.creator)) return false;
    if (filter.extension[0] == 0) return true;
    char name[256];
    MacNameToPc(name, item.name, true);
    return ExtensionIs(name, filter.extension);
}

bool PcFilePasses(const char* name, const PcCopyFilter& filter)
{
    return !filter.on || filter.extension[0] == 0 || ExtensionIs(name, filter.extension);
}

uint32_t MacCopyBytes(const MacItem& item, uint16_t index)
{
    switch (index) {
    case kResourceTranslator: return item.resourceSize;
    case kMacBinaryTranslator:
    case kBinHexTranslator: return item.size + item.resourceSize;
    default: return item.size;
    }
}

void WalkMacFolder(const MacCopyWalk& walk, const MacFolder& folder, const std::string& pcDirectory)
{
    if (StatusCode != 0) return;
    WalkScope scope;
    const bool copying = walk.mode == 1;
    // dirs[d]: the PC directory that receives the files of the folder d
    // levels below `folder`.
    std::vector<std::string> dirs(1, pcDirectory);
    if (copying && walk.makeDirectories && !MakePcDirectoryFor(folder.name, pcDirectory, &dirs[0])) return;

    FolderVisitor visitor;
    visitor.listed = [&](const WalkedFolder&, std::vector<MacItem>&) {
        if (!copying && walk.hooks.counted) walk.hooks.counted();
        return StatusCode == 0;
    };
    visitor.item = [&](const WalkedFolder& at, const MacItem& item, size_t) {
        if (StatusCode != 0) return false;
        PumpMessages();
        if (StatusCode != 0) return false;
        if (item.kind == kItemFolder) {
            dirs.resize(at.depth + 2);
            if (!copying || !walk.makeDirectories) {
                dirs[at.depth + 1] = dirs[at.depth];
                return true;
            }
            return MakePcDirectoryFor(item.name, dirs[at.depth], &dirs[at.depth + 1]);
        }
        if (item.kind != kItemFile || !MacFilePasses(item, walk.filter)) return false;
        if (copying)
            CopyMacFile(walk, item, at.id, dirs[at.depth]);
        else
            Count(MacCopyBytes(item, walk.translator));
        return false;
    };
    WalkedFolder top{folder, 0};
    WalkFolderTree(top, visitor);
}

void WalkPcDirectory(const PcCopyWalk& walk, const std::string& parentDirectory, const std::string& name,
                     const MacFolder& target)
{
    if (StatusCode != 0) return;
    WalkScope scope;
    const bool copying = walk.mode == 1;
    struct Frame {
        std::string directory;  // native
        MacFolder folder;       // where its files go
        std::vector<PcItem> items;
        size_t next;
    };
    std::vector<Frame> stack;
    auto enter = [&](const std::string& parent, const std::string& child, const MacFolder& into) {
        Frame frame{{}, into, {}, 0};
        if (!PcChildPath(parent, child, &frame.directory)) {
            StatusCode = kStatusPcOpenError;
            return false;
        }
        if (stack.size() > kPcWalkDepthLimit) {
            StatusCode = kStatusCannotCreate;
            return false;
        }
        if (copying && walk.makeFolders && !MakeMacFolderFor(child, into, &frame.folder)) return false;
        // A directory that changed into something else since it was listed
        // (a link now) is not entered.
        if (GetPathKind(frame.directory.c_str()) != PathKind::Directory ||
            !ReadPcDirectory(frame.directory.c_str(), &frame.items)) {
            StatusCode = kStatusPcOpenError;
            return false;
        }
        std::sort(frame.items.begin(), frame.items.end(), PcItemSortsFirst);
        if (!copying && walk.hooks.counted) walk.hooks.counted();
        stack.push_back(std::move(frame));
        return true;
    };
    if (!enter(parentDirectory, name, target)) return;
    while (!stack.empty() && StatusCode == 0) {
        Frame& at = stack.back();
        if (at.next == at.items.size()) {
            stack.pop_back();
            continue;
        }
        const PcItem item = at.items[at.next++];  // the stack may move under a reference
        PumpMessages();
        if (StatusCode != 0) break;
        if (item.kind == kPcDirectory) {
            const std::string parent = at.directory;
            const MacFolder into = at.folder;
            if (!enter(parent, item.name, into)) break;
            continue;
        }
        // Links and special files are neither followed nor read.
        if (item.kind != kPcFile || !PcFilePasses(item.name.c_str(), walk.filter)) continue;
        if (copying)
            CopyPcFile(walk, item, at.directory, at.folder);
        else
            Count(item.size);
    }
}
