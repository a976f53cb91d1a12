#include "transfer/pc_items.h"

#include "platform/platform.h"

namespace {

uint16_t ItemKind(PathKind kind)
{
    switch (kind) {
        case PathKind::Directory: return kPcDirectory;
        case PathKind::Regular: return kPcFile;
        case PathKind::Link: return kPcLink;
        default: return kPcSpecial;
    }
}

bool AddItem(const DirEntry& entry, void* context)
{
    PcItem item{};
    char ansi[1024];
    if (!NativeToAnsi(entry.name, ansi, sizeof ansi)) return true;
    item.name = ansi;
    item.kind = ItemKind(entry.kind);
    if (item.kind == kPcFile) item.size = entry.size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(entry.size);
    item.modified = LocalDosDateTime(entry.modified);
    static_cast<std::vector<PcItem>*>(context)->push_back(std::move(item));
    return true;
}

}  // namespace

bool ReadPcDirectory(const char* directory, std::vector<PcItem>* items)
{
    return ListDir(directory[0] ? directory : ".", AddItem, items);
}

bool PcChildPath(const std::string& directory, const std::string& name, std::string* path)
{
    char native[1024];
    if (!AnsiToNative(name.c_str(), native, sizeof native)) return false;
    *path = directory;
    if (!path->empty() && path->back() != '/' && path->back() != PathSeparator()) *path += PathSeparator();
    *path += native;
    return true;
}
