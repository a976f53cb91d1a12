#include "support/engine_tree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/status.h"
#include "disk/drive_table.h"
#include "hfs/btree_search.h"
#include "hfs/fork_io.h"
#include "hfs/listing.h"
#include "ui/mac_pane.h"

std::string Printable(const std::string& macName)
{
    std::string out;
    for (unsigned char c : macName) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

std::string JoinMacPath(const std::string& folder, const std::string& name)
{
    return folder == ":" ? ":" + name : folder + ":" + name;
}

bool EngineRootTarget(MacPathTarget* out) { return ResolveMacPath(":", out); }

namespace {

EngineEntry EntryOf(const MacItem& item)
{
    EngineEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(item.name + 1), item.name[0]);
    entry.folder = item.kind == kItemFolder;
    entry.id = item.id;
    entry.date = item.date;
    if (entry.folder) {
        entry.valence = item.size;
    } else {
        entry.type.assign(reinterpret_cast<const char*>(item.type + 1), 4);
        entry.creator.assign(reinterpret_cast<const char*>(item.creator + 1), 4);
        entry.finderFlags = static_cast<uint16_t>((item.finderFlags[0] << 8) | item.finderFlags[1]);
        entry.dataLength = item.size;
        entry.rsrcLength = item.resourceSize;
    }
    return entry;
}

// Walks from `top` with the engine's tree walker, each folder in the pane's
// order; `descend` says whether folders below `top` are entered.
bool WalkEngine(const MacPathTarget& top, bool descend, unsigned limit, EngineTree* out)
{
    std::vector<std::string> paths;  // of the folders being walked, by depth
    FolderVisitor visitor;
    visitor.listed = [&](const WalkedFolder& folder, std::vector<MacItem>& items) {
        if (out->size() >= limit) return false;
        std::sort(items.begin(), items.end(),
                  [](const MacItem& a, const MacItem& b) { return CompareMacItems(&a, &b) < 0; });
        paths.resize(folder.depth);
        const std::string name(reinterpret_cast<const char*>(folder.name + 1), folder.name[0]);
        paths.push_back(folder.depth == 0 ? ":" : JoinMacPath(paths.back(), name));
        EngineFolder& listed = (*out)[paths.back()];
        listed.id = folder.id;
        listed.items.clear();
        for (const MacItem& item : items) listed.items.push_back(EntryOf(item));
        return true;
    };
    visitor.item = [descend](const WalkedFolder&, const MacItem&, size_t) { return descend; };
    WalkedFolder start{{top.parentId, {}, top.id}, 0};
    std::memcpy(start.name, top.name, sizeof start.name);
    return WalkFolderTree(start, visitor);
}

}  // namespace

bool ListEngineFolder(const MacPathTarget& folder, EngineFolder* out)
{
    out->id = folder.id;
    out->items.clear();
    EngineTree one;
    if (!WalkEngine(folder, false, 1, &one)) return false;
    *out = std::move(one.begin()->second);
    return true;
}

bool ListEngineTree(EngineTree* out, unsigned limit)
{
    out->clear();
    MacPathTarget root;
    return EngineRootTarget(&root) && WalkEngine(root, true, limit, out);
}

bool ReadEngineFork(uint32_t parentId, const std::string& name, uint8_t fork, std::vector<uint8_t>* out)
{
    out->clear();
    if (name.empty() || name.size() > 31) return false;
    uint8_t macName[32] = {static_cast<uint8_t>(name.size())};
    std::memcpy(macName + 1, name.data(), name.size());
    ForkRef ref;
    if (LookupFile(macName, parentId, &ref) != 0) return false;
    PinBlock(ref.recordBuffer);
    uint64_t remaining = GetU32(ref.recordBuffer->data + ref.recordOffset + ForkLogicalOffset(fork));
    std::vector<uint8_t> buffer(MaxTransferBytes);
    const uint16_t perCall = static_cast<uint16_t>(std::max<uint32_t>(1, MaxTransferBytes / 512));
    uint32_t block = 0;
    bool ok = true;
    while (remaining > 0) {
        const uint16_t wanted = static_cast<uint16_t>(std::min<uint64_t>((remaining + 511) / 512, perCall));
        const uint16_t got = ReadForkBlocks(buffer.data(), block, wanted, fork, &ref);
        if (got == 0 || got > wanted) {
            if (StatusCode == 0) StatusCode = kStatusBadNode;
            ok = false;
            break;
        }
        const uint64_t bytes = std::min<uint64_t>(remaining, uint64_t{got} * 512);
        out->insert(out->end(), buffer.begin(), buffer.begin() + static_cast<long>(bytes));
        remaining -= bytes;
        block += got;
    }
    UnpinBlock(ref.recordBuffer);
    return ok;
}
