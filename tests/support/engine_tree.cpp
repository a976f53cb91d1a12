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

bool EngineRootTarget(MacPathTarget* out)
{
    return ResolveMacPath(":", out);
}

bool ListEngineFolder(const MacPathTarget& folder, EngineFolder* out)
{
    out->id = folder.id;
    out->items.clear();
    if (!ShowMacFolder(folder)) return false;
    for (unsigned i = 0; i < MacPaneState.count; ++i) {
        const MacItem* item = MacPaneState.items[i];
        EngineEntry entry;
        entry.name.assign(reinterpret_cast<const char*>(item->name + 1), item->name[0]);
        entry.folder = item->kind == kItemFolder;
        entry.id = item->id;
        entry.date = item->date;
        if (entry.folder) {
            entry.valence = item->size;
        } else {
            entry.type.assign(reinterpret_cast<const char*>(item->type + 1), 4);
            entry.creator.assign(reinterpret_cast<const char*>(item->creator + 1), 4);
            entry.finderFlags = static_cast<uint16_t>((item->finderFlags[0] << 8) | item->finderFlags[1]);
            entry.dataLength = item->size;
            entry.rsrcLength = item->resourceSize;
        }
        out->items.push_back(std::move(entry));
    }
    return true;
}

bool ListEngineTree(EngineTree* out, unsigned limit)
{
    out->clear();
    MacPathTarget root;
    if (!EngineRootTarget(&root)) return false;
    std::vector<std::pair<std::string, MacPathTarget>> pending{{":", root}};
    while (!pending.empty()) {
        if (out->size() >= limit) return false;
        auto [path, target] = pending.back();
        pending.pop_back();
        EngineFolder& folder = (*out)[path];
        if (!ListEngineFolder(target, &folder)) return false;
        // Pushed in reverse so that subfolders come off in pane order.
        for (auto it = folder.items.rbegin(); it != folder.items.rend(); ++it) {
            if (!it->folder) continue;
            MacPathTarget child{target.id, {}, kItemFolder, it->id};
            child.name[0] = static_cast<uint8_t>(std::min<size_t>(it->name.size(), 31));
            std::memcpy(child.name + 1, it->name.data(), child.name[0]);
            pending.emplace_back(JoinMacPath(path, it->name), child);
        }
    }
    return true;
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
