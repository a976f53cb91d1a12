#include "support/shadow_volume.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

#include "core/main_state.h"
#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/catalog_ops.h"
#include "hfs/fork_io.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_tree.h"
#include "support/hfsutils_driver.h"
#include "ui/mac_session.h"

namespace {

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A length-prefixed Mac name; names longer than 31 are cut (the caller
// means them to be refused, which the length alone decides).
struct MacName {
    uint8_t bytes[256] = {};
    explicit MacName(const std::string& s)
    {
        const size_t n = std::min<size_t>(s.size(), 255);
        bytes[0] = static_cast<uint8_t>(n);
        std::memcpy(bytes + 1, s.data(), n);
    }
};

bool ValidName(const std::string& name)
{
    return !name.empty() && name.size() <= 31 && name.find(':') == std::string::npos;
}

void Note(std::string* why, const std::string& text, unsigned* notes)
{
    if (++*notes <= 12) *why += text + "\n";
}

// The folder ID of the folder record (parentId, name), or 0.
uint32_t CatalogFolderId(uint32_t parentId, const std::string& name)
{
    const MacName mac(name);
    BlockBuffer* leaf = nullptr;
    uint16_t offset = 0;
    if (SearchCatalog(CatalogRoot(), parentId, mac.bytes, nullptr, &offset, &leaf) != 0) return 0;
    const uint16_t data = RecordDataOffset(leaf, offset);
    if (leaf->data[data] != kFolderRecord) return 0;
    return GetU32(leaf->data + data + kFolderId);
}

bool WriteForks(ForkRef* ref, const ShadowFile& file, uint32_t chunkSeed, uint32_t chunkBytes)
{
    std::mt19937 rng(chunkSeed);
    int turn = 0;
    const ShadowFork* forks[2] = {&file.data, &file.rsrc};
    uint32_t position[2] = {0, 0};
    std::vector<uint8_t> buffer;
    for (;;) {
        const bool left[2] = {position[0] < forks[0]->size, position[1] < forks[1]->size};
        if (!left[0] && !left[1]) return true;
        // Buffers of both forks interleaved, as a translator that writes two
        // streams does; mostly whole stream buffers, sometimes odd sizes.
        int k = left[0] && left[1] ? static_cast<int>(rng() % 2) : (left[0] ? 0 : 1);
        uint32_t size = (rng() % 2 ? 64 : 1 + rng() % 128) * 512;
        if (chunkBytes != 0) {
            turn ^= 1;
            k = left[0] && left[1] ? turn : (left[0] ? 0 : 1);
            size = chunkBytes;
        }
        const uint32_t n = std::min(forks[k]->size - position[k], size);
        buffer.assign((n + 511) / 512 * 512, 0);
        if (forks[k]->literal)
            std::memcpy(buffer.data(), forks[k]->literal->data() + position[k], n);
        else
            FillForkBytes(forks[k]->seed, position[k], buffer.data(), n);
        if (!WriteForkBuffer(ref, k ? kResourceFork : kDataFork, &position[k], buffer.data(), n)) return false;
    }
}

std::unique_ptr<ShadowNode> CopyNode(const ShadowNode& from, ShadowNode* parent)
{
    auto node = std::make_unique<ShadowNode>();
    *node = {from.folder, from.id, from.name, parent, from.file, {}};
    for (const auto& [name, child] : from.children) node->children[name] = CopyNode(*child, node.get());
    return node;
}

}  // namespace

void FillForkBytes(uint32_t seed, uint64_t offset, uint8_t* out, size_t size)
{
    const uint64_t base = uint64_t{seed} << 32;
    size_t i = 0;
    while (i < size) {
        const uint64_t at = offset + i;
        const uint64_t word = Mix(base ^ (at / 8));
        for (unsigned b = static_cast<unsigned>(at % 8); b < 8 && i < size; ++b, ++i)
            out[i] = static_cast<uint8_t>(word >> (8 * b));
    }
}

std::vector<uint8_t> ShadowFork::Bytes() const
{
    if (literal) return *literal;
    std::vector<uint8_t> out(size);
    FillForkBytes(seed, 0, out.data(), size);
    return out;
}

bool MacNameLess::operator()(const std::string& a, const std::string& b) const
{
    const MacName x(a);
    const MacName y(b);
    return CompareMacNames(x.bytes, y.bytes) < 0;
}

std::string ShadowNode::Path() const
{
    if (!parent) return ":";
    return JoinMacPath(parent->Path(), name);
}

unsigned ShadowNode::Depth() const
{
    unsigned d = 0;
    for (const ShadowNode* n = parent; n; n = n->parent) ++d;
    return d;
}

ShadowVolume::ShadowVolume() : root_(std::make_unique<ShadowNode>())
{
    root_->folder = true;
    root_->id = kRootFolderId;
}

ShadowVolume ShadowVolume::Clone() const
{
    ShadowVolume copy;
    copy.root_ = CopyNode(*root_, nullptr);
    return copy;
}

bool ShadowVolume::LoadFromEngine(std::string* why)
{
    EngineTree tree;
    if (!ListEngineTree(&tree)) {
        if (why) *why = "listing failed with status " + std::to_string(StatusCode);
        return false;
    }
    MacPathTarget rootTarget;
    if (!EngineRootTarget(&rootTarget)) return false;
    *this = ShadowVolume();
    root_->name.assign(reinterpret_cast<const char*>(rootTarget.name + 1), rootTarget.name[0]);
    // Parents come before children in path order.
    for (const auto& [path, folder] : tree) {
        ShadowNode* node = Find(path);
        if (!node) {
            if (why) *why = "folder listed before its parent: " + path;
            return false;
        }
        node->id = folder.id;
        for (const EngineEntry& entry : folder.items) {
            auto child = std::make_unique<ShadowNode>();
            *child = {entry.folder, entry.folder ? entry.id : 0, entry.name, node,
                      {entry.type, entry.creator, {}, {}}, {}};
            if (!entry.folder) {
                for (int k = 0; k < 2; ++k) {
                    auto bytes = std::make_shared<std::vector<uint8_t>>();
                    if (!ReadEngineFork(folder.id, entry.name, k ? kResourceFork : kDataFork, bytes.get())) {
                        if (why) *why = "cannot read " + JoinMacPath(path, entry.name);
                        return false;
                    }
                    ShadowFork& fork = k ? child->file.rsrc : child->file.data;
                    fork.size = static_cast<uint32_t>(bytes->size());
                    fork.literal = bytes;
                }
            }
            node->children[entry.name] = std::move(child);
        }
    }
    return true;
}

ShadowNode* ShadowVolume::Find(const std::string& path)
{
    ShadowNode* node = root_.get();
    for (const std::string& part : SplitMacPath(path.c_str())) {
        auto it = node->children.find(part);
        if (it == node->children.end()) return nullptr;
        node = it->second.get();
    }
    return node;
}

uint32_t ShadowVolume::Expect(const WriteOp& op) const
{
    const auto& children = op.folder->children;
    switch (op.kind) {
    case WriteOp::CreateFolder:
    case WriteOp::CreateFile:
        if (!ValidName(op.name)) return kStatusCannotCreate;
        return children.count(op.name) ? uint32_t{kStatusNameExists} : 0u;
    case WriteOp::Rename: {
        if (!ValidName(op.newName)) return kStatusCannotCreate;
        auto it = children.find(op.newName);
        // The item's own name in other letters is no clash.
        return it != children.end() && CompareMacNames(MacName(it->first).bytes, MacName(op.name).bytes) != 0
                   ? uint32_t{kStatusNameExists}
                   : 0u;
    }
    default:
        return 0;
    }
}

void ShadowVolume::Apply(const WriteOp& op, uint32_t newFolderId)
{
    auto& children = op.folder->children;
    switch (op.kind) {
    case WriteOp::CreateFolder:
    case WriteOp::CreateFile: {
        const bool folder = op.kind == WriteOp::CreateFolder;
        children[op.name] = std::make_unique<ShadowNode>(
            ShadowNode{folder, folder ? newFolderId : 0, op.name, op.folder, folder ? ShadowFile{} : op.file, {}});
        break;
    }
    case WriteOp::Rename: {
        auto it = children.find(op.name);
        if (it == children.end()) return;
        std::unique_ptr<ShadowNode> node = std::move(it->second);
        children.erase(it);
        node->name = op.newName;
        children[op.newName] = std::move(node);
        break;
    }
    case WriteOp::SetType: {
        auto it = children.find(op.name);
        if (it == children.end()) return;
        it->second->file.type = op.file.type;
        it->second->file.creator = op.file.creator;
        break;
    }
    case WriteOp::DeleteFile:
    case WriteOp::DeleteFolder: {
        auto it = children.find(op.name);
        if (it == children.end() || (it->second->folder && !it->second->children.empty())) return;
        children.erase(it);
        break;
    }
    }
}

std::vector<ShadowNode*> ShadowVolume::Folders()
{
    std::vector<ShadowNode*> out;
    std::vector<ShadowNode*> pending{root_.get()};
    while (!pending.empty()) {
        ShadowNode* node = pending.back();
        pending.pop_back();
        out.push_back(node);
        for (auto& [name, child] : node->children)
            if (child->folder) pending.push_back(child.get());
    }
    return out;
}

std::vector<ShadowNode*> ShadowVolume::Files()
{
    std::vector<ShadowNode*> out;
    for (ShadowNode* folder : Folders())
        for (auto& [name, child] : folder->children)
            if (!child->folder) out.push_back(child.get());
    return out;
}

namespace {

// Makes `folder` the pane's current folder without listing it, as the pane
// holds it after ShowMacFolder.
bool MakeCurrentFolder(const ShadowNode* folder)
{
    if (!folder || !folder->folder || folder->id == 0) return false;
    FreeMacItemList();
    MacPaneState.parentId = folder->parent ? folder->parent->id : kRootParentId;
    MacPaneState.folderId = folder->id;
    const MacName name(folder->name);
    std::memcpy(MacPaneState.name, name.bytes, sizeof MacPaneState.name);
    return true;
}

}  // namespace

bool ResolveFolderIds(ShadowVolume* model, std::string* why)
{
    for (ShadowNode* folder : model->Folders()) {
        if (folder->id != 0 || !folder->parent) continue;
        // Folders() lists parents first, so the parent's ID is known.
        folder->id = CatalogFolderId(folder->parent->id, folder->name);
        if (folder->id == 0) {
            if (why) *why = "no folder record for " + folder->Path();
            StatusCode = 0;
            return false;
        }
    }
    return true;
}

uint32_t RunEngineOp(ShadowVolume*, const WriteOp& op, uint32_t* newFolderId)
{
    if (newFolderId) *newFolderId = 0;
    if (!MakeCurrentFolder(op.folder)) {
        if (StatusCode == 0) StatusCode = kStatusBadNode;
        return StatusCode;
    }
    const MacName name(op.name);
    switch (op.kind) {
    case WriteOp::CreateFolder: {
        const uint32_t id = GetU32(MacVolume.mdb->data + kMdbNextCatalogId);
        CreateMacFolder(name.bytes);
        if (StatusCode == 0 && newFolderId) *newFolderId = id;
        break;
    }
    case WriteOp::CreateFile: {
        FileCreateRequest request{};
        std::memcpy(request.name, name.bytes, sizeof request.name);
        std::memcpy(request.finderInfo, op.file.type.data(), 4);
        std::memcpy(request.finderInfo + 4, op.file.creator.data(), 4);
        request.created = request.modified = op.created;
        CreateMacFile(&request);
        if (StatusCode != 0) break;
        ForkRef ref;
        if (LookupFile(name.bytes, op.folder->id, &ref) != 0) break;
        // The stream keeps the file record's node in the cache while it writes.
        PinBlock(ref.recordBuffer);
        WriteForks(&ref, op.file, op.chunkSeed, op.chunkBytes);
        UnpinBlock(ref.recordBuffer);
        break;
    }
    case WriteOp::Rename: {
        MacItem entry{};
        std::memcpy(entry.name, name.bytes, sizeof entry.name);
        const MacName newName(op.newName);
        RenameMacItem(newName.bytes, &entry);
        break;
    }
    case WriteOp::SetType:
        SetTypeCreator(reinterpret_cast<const uint8_t*>(op.file.type.data()),
                       reinterpret_cast<const uint8_t*>(op.file.creator.data()), name.bytes);
        break;
    case WriteOp::DeleteFile:
        DeleteMacFile(name.bytes, op.folder->id);
        break;
    case WriteOp::DeleteFolder: {
        // As the pane does it: list the folder, open the entry, delete it.
        MacPathTarget target{op.folder->parent ? op.folder->parent->id : kRootParentId, {}, kItemFolder,
                             op.folder->id};
        const MacName folderName(op.folder->name);
        std::memcpy(target.name, folderName.bytes, sizeof target.name);
        if (!ShowMacFolder(target)) break;
        bool found = false;
        for (uint16_t i = 0; i < MacPaneState.count && !found; ++i)
            if ((found = CompareMacNames(MacPaneState.items[i]->name, name.bytes) == 0)) MacPaneState.openedIndex = i;
        if (found) DeleteMacItem();
        else StatusCode = kStatusBadNode;
        break;
    }
    }
    return StatusCode;
}

uint32_t EndCommand(uint32_t status)
{
    if (status == 0 && StatusCode == 0) FlushVolume();
    const uint32_t result = status != 0 ? status : StatusCode;
    if (StatusCode == 0 && status != 0) StatusCode = status;
    if (StatusCode != 0) ReportStatus(MainWindow);
    return result;
}

namespace {

// A volume's tree as one lister sees it, item by path (":A:B"). hls gives no
// type and creator: those are left empty and not compared.
struct ListedItem {
    bool folder = false;
    uint32_t valence = 0;
    uint32_t dataLength = 0, rsrcLength = 0;
    std::string type, creator;
    bool operator==(const ListedItem&) const = default;
};
using Listing = std::map<std::string, ListedItem>;

void ListModel(const ShadowNode& node, Listing* out)
{
    for (const auto& [name, child] : node.children) {
        const ShadowFile& f = child->file;
        (*out)[JoinMacPath(node.Path(), name)] =
            child->folder ? ListedItem{true, static_cast<uint32_t>(child->children.size()), 0, 0, "", ""}
                          : ListedItem{false, 0, f.data.size, f.rsrc.size, f.type, f.creator};
        if (child->folder) ListModel(*child, out);
    }
}

// Every difference of `got` from the model's listing, as notes from `who`.
void CompareListing(const ShadowVolume& model, const Listing& got, const std::string& who, std::string* why,
                    unsigned* notes)
{
    Listing want;
    ListModel(*model.Root(), &want);
    for (const auto& [path, item] : want) {
        auto it = got.find(path);
        ListedItem seen = it == got.end() ? ListedItem{} : it->second;
        if (seen.type.empty() && !item.folder) seen.type = item.type, seen.creator = item.creator;
        if (it == got.end())
            Note(why, who + ": missing " + "\"" + path + "\"", notes);
        else if (!(seen == item))
            Note(why, who + ": " + "\"" + path + "\"" + " is " + (seen.folder ? "a folder of " : "a file of ") +
                          std::to_string(seen.folder ? seen.valence : seen.dataLength) + "/" +
                          std::to_string(seen.rsrcLength) + " " + seen.type + "/" + seen.creator,
                 notes);
    }
    for (const auto& [path, item] : got)
        if (!want.count(path)) Note(why, who + ": not in the model: " + "\"" + path + "\"", notes);
}

}  // namespace

bool EngineMatches(const ShadowVolume& model, bool bytes, std::string* why)
{
    why->clear();
    unsigned notes = 0;
    EngineTree tree;
    if (!ListEngineTree(&tree)) {
        *why = "listing failed with status " + std::to_string(StatusCode);
        StatusCode = 0;
        return false;
    }
    Listing got;
    for (const auto& [path, folder] : tree)
        for (const EngineEntry& e : folder.items)
            got[JoinMacPath(path, e.name)] = {e.folder, e.folder ? e.valence : 0, e.dataLength, e.rsrcLength,
                                              e.folder ? "" : e.type, e.folder ? "" : e.creator};
    CompareListing(model, got, "engine", why, &notes);
    for (const auto& [path, folder] : tree) {
        const ShadowNode* node = bytes && notes == 0 ? const_cast<ShadowVolume&>(model).Find(path) : nullptr;
        for (const EngineEntry& e : node ? folder.items : std::vector<EngineEntry>{}) {
            if (e.folder) continue;
            const ShadowFile& f = node->children.at(e.name)->file;
            for (int k = 0; k < 2; ++k) {
                std::vector<uint8_t> read;
                if (!ReadEngineFork(folder.id, e.name, k ? kResourceFork : kDataFork, &read)) {
                    Note(why, JoinMacPath(path, e.name) + ": fork read failed, status " + std::to_string(StatusCode),
                         &notes);
                    StatusCode = 0;
                } else if (read != (k ? f.rsrc : f.data).Bytes()) {
                    Note(why, JoinMacPath(path, e.name) + (k ? ": resource fork differs" : ": data fork differs"),
                         &notes);
                }
            }
        }
    }
    return notes == 0;
}

bool HfsUtilsMatches(HfsUtils& hfs, const ShadowVolume& model, bool bytes, unsigned rawEvery, std::string* why)
{
    why->clear();
    unsigned notes = 0;
    HlsTree tree;
    if (!hfs.List(&tree)) {
        *why = hfs.LastError();
        return false;
    }
    Listing got;
    for (const auto& [path, entries] : tree)
        for (const HlsEntry& e : entries)
            got[JoinMacPath(path, e.name)] = {e.folder, e.folder ? e.valence : 0, e.dataLength, e.rsrcLength, "", ""};
    CompareListing(model, got, "hls", why, &notes);
    if (!bytes || notes != 0) return notes == 0;
    unsigned fileCount = 0;
    for (const ShadowNode* node : const_cast<ShadowVolume&>(model).Folders()) {
        // The tools would expand a pattern in the path; such files are
        // compared by listing only.
        std::vector<std::string> names;
        for (const auto& [name, child] : node->children)
            if (!child->folder && !HasHfsGlobCharacter(JoinMacPath(node->Path(), name))) names.push_back(name);
        std::map<std::string, MacFileImage> copied;
        if (names.empty()) continue;
        if (!hfs.GetMacBinaryMany(node->Path(), names, &copied)) {
            Note(why, "hcopy -m in " + node->Path() + ": " + hfs.LastError(), &notes);
            continue;
        }
        for (const std::string& name : names) {
            const ShadowFile& f = node->children.at(name)->file;
            const std::string where = JoinMacPath(node->Path(), name);
            const MacFileImage& image = copied[name];
            if (image.type != f.type || image.creator != f.creator || image.data != f.data.Bytes() ||
                image.rsrc != f.rsrc.Bytes())
                Note(why, "hcopy -m: " + where + " differs (" + image.type + "/" + image.creator + ")", &notes);
            std::vector<uint8_t> raw;
            if (rawEvery != 0 && fileCount++ % rawEvery == 0 && (!hfs.GetRaw(where, &raw) || raw != f.data.Bytes()))
                Note(why, "hcopy -r: data fork of " + where + " " + hfs.LastError(), &notes);
        }
    }
    return notes == 0;
}

bool VolumeIsClean(std::string* why)
{
    std::vector<std::string> problems;
    CheckVolume(&problems);
    why->clear();
    for (size_t i = 0; i < problems.size() && i < 12; ++i) *why += problems[i] + "\n";
    return problems.empty();
}
