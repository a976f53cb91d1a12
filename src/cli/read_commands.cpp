// The commands that only read: volumes, ls, cat, info. None of them writes
// to the image, not even a date.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli.h"
#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/fork_io.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/mac_time.h"
#include "hfs/volume.h"
#include "hfs/volume_scan.h"
#include "ui/format_text.h"
#include "ui/mac_pane.h"

namespace {

// "YYYY-MM-DD HH:MM[:SS]", or "-" when there is no date (0).
std::string MacDateText(uint32_t macDate, bool withSeconds = true)
{
    if (macDate == 0) return "-";
    const MacClockReading t = MacDateFields(macDate);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u", static_cast<long long>(t.year), t.month, t.day,
                  t.hour, t.minute);
    std::string result = text;
    if (withSeconds) {
        std::snprintf(text, sizeof text, ":%02u", t.second);
        result += text;
    }
    return result;
}

// ---- JSON ----------------------------------------------------------------------

// UTF-8 text as a JSON string; every control character (C0, DEL, C1) escaped.
std::string JsonString(const std::string& utf8)
{
    std::string out = "\"";
    for (size_t i = 0; i < utf8.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(utf8[i]);
        unsigned escape = 0x100;
        if (c < 0x20 || c == 0x7F) escape = c;
        if (c == 0xC2 && i + 1 < utf8.size() && static_cast<uint8_t>(utf8[i + 1]) >= 0x80 &&
            static_cast<uint8_t>(utf8[i + 1]) < 0xA0)
            escape = static_cast<uint8_t>(utf8[++i]);
        if (escape < 0x100) {
            char text[8];
            std::snprintf(text, sizeof text, "\\u%04x", escape);
            out += text;
        } else {
            if (c == '"' || c == '\\') out += '\\';
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A date as ISO 8601 local time with its offset from UTC, or null.
std::string JsonDate(uint32_t macDate)
{
    if (macDate == 0) return "null";
    const MacClockReading t = MacDateFields(macDate);
    // The zone's offset at the instant the clock showed that reading.
    const int64_t offsetMinutes = (int64_t{macDate} - kMacEpochToUnixEpoch - MacDateToUnix(macDate)) / 60;
    const int64_t absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "\"%04lld-%02u-%02uT%02u:%02u:%02u%c%02d:%02d\"", static_cast<long long>(t.year),
                  t.month, t.day, t.hour, t.minute, t.second, offsetMinutes < 0 ? '-' : '+',
                  static_cast<int>(absolute / 60), static_cast<int>(absolute % 60));
    return text;
}

// A type or creator: its four characters, or hex when one is a control.
std::string JsonCode(const uint8_t* p)
{
    for (int i = 0; i < 4; ++i) {
        if (p[i] < 0x20 || p[i] == 0x7F) {
            char text[16];
            std::snprintf(text, sizeof text, "\"0x%08X\"", GetU32(p));
            return text;
        }
    }
    return JsonString(MacRomanToUtf8(p, 4));
}

std::string JsonNumber(uint64_t n) { return std::to_string(n); }

// Members of one object, in order.
std::string JsonObject(const std::vector<std::pair<const char*, std::string>>& members)
{
    std::string out = "{";
    for (const auto& [key, value] : members)
        out += (out.size() > 1 ? ", \"" : "\"") + std::string(key) + "\": " + value;
    return out + "}";
}

// The MACPATH of `name` in the folder at `path` (both in the engine's form).
std::string ChildPath(const std::string& path, const std::string& name)
{
    return path.empty() ? name : path + ":" + name;
}

std::string ItemJson(const MacItem* item, const std::string& path)
{
    std::vector<std::pair<const char*, std::string>> members = {
        {"name", JsonString(MacNameExact(item->name))},
        {"path", JsonString(MacTextExact(path))},
        {"kind", item->kind == kItemFolder ? "\"folder\"" : "\"file\""},
        {"id", JsonNumber(item->id)}};
    if (item->kind == kItemFolder) {
        members.emplace_back("count", JsonNumber(item->size));
    } else {
        members.emplace_back("type", JsonCode(item->type + 1));
        members.emplace_back("creator", JsonCode(item->creator + 1));
        members.emplace_back("finderFlags", JsonNumber(GetU16(item->finderFlags)));
        members.emplace_back("dataSize", JsonNumber(item->size));
        members.emplace_back("resourceSize", JsonNumber(item->resourceSize));
    }
    members.emplace_back("modified", JsonDate(item->modified));
    return JsonObject(members);
}

// ---- text ------------------------------------------------------------------------

std::string Bytes(uint64_t n)
{
    char digits[24];
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(n));
    if (std::strlen(digits) <= 11) InsertThousands(digits);
    return std::string(digits) + " bytes";
}

std::string FourChars(const uint8_t* p)
{
    uint8_t name[5] = {4, p[0], p[1], p[2], p[3]};
    return MacNameUtf8(name);
}

bool ApplySortOption(const CliArgs& args)
{
    const std::string* sort = args.Option("--sort");
    if (!sort) return true;
    static const std::pair<const char*, uint16_t> kOrders[] = {
        {"name", kSortByName}, {"type", kSortByType}, {"creator", kSortByCreator},
        {"size", kSortBySize}, {"date", kSortByDate}};
    for (const auto& [word, id] : kOrders) {
        if (*sort == word) {
            MacSortId = id;
            return true;
        }
    }
    UsageError("--sort takes name, type, creator, size or date");
    return false;
}

// The pane's line of `item`, in UTF-8 and with the full date: the columns
// before the date are the pane's, each Mac character one column.
std::string ItemLine(const MacItem& entry)
{
    char line[96];
    FormatMacItem(line, entry);
    const std::string pane(line, std::strlen(line));
    const MacItem* item = &entry;
    if (item->kind == kItemVolume || pane.size() < 57) return MacTextShown(pane);
    const size_t nameLength = MacNameLength(item->name);
    std::string text = MacNameUtf8(item->name) + pane.substr(nameLength, 33 - nameLength);
    if (item->kind == kItemFile)
        text += MacNameUtf8(item->type) + pane.substr(37, 2) + MacNameUtf8(item->creator) + pane.substr(43, 14);
    else
        text += pane.substr(33, 24);
    return text + MacDateText(item->modified, false);
}

// Lists `top` and, with `recursive`, every folder below it, depth first, each
// folder's items in the pane's order: as text, each folder under a "path:"
// header when `header`; with `json`, an array of the folder's items in which
// each folder holds its own items.
bool ListTree(const MacPathTarget& top, const std::string& topPath, bool recursive, bool header, std::string* json)
{
    std::vector<std::string> paths;  // of the folders being walked, by depth
    bool first = true;
    FolderVisitor visitor;
    visitor.listed = [&](const WalkedFolder& folder, std::vector<MacItem>& items) {
        std::sort(items.begin(), items.end(),
                  [](const MacItem& a, const MacItem& b) { return CompareMacItems(&a, &b) < 0; });
        paths.resize(folder.depth);
        if (folder.depth > 0) {
            char pcName[kMaxMacName + 1];
            MacNameToPc(pcName, folder.name, true);
            paths.push_back(ChildPath(paths.back(), pcName));
        } else {
            paths.push_back(topPath);
        }
        if (json) {
            *json += "[";
            return true;
        }
        if (!first) PrintAnsi("\n");
        first = false;
        if (header) PrintAnsi((paths.back().empty() ? std::string(":") : paths.back() + ":") + "\n");
        for (const MacItem& item : items) {
            const std::string text = ItemLine(item) + "\n";
            std::fwrite(text.data(), 1, text.size(), stdout);
        }
        return true;
    };
    visitor.item = [&](const WalkedFolder& folder, const MacItem& item, size_t index) {
        const bool descend = recursive && item.kind == kItemFolder;
        if (!json) return descend;
        char pcName[kMaxMacName + 1];
        MacNameToPc(pcName, item.name, true);
        const std::string object = ItemJson(&item, ChildPath(paths[folder.depth], pcName));
        *json += (index ? ", " : "") + object.substr(0, object.size() - 1);
        *json += descend ? ", \"items\": " : "}";
        return descend;
    };
    visitor.done = [&](const WalkedFolder& folder) {
        if (json) *json += folder.depth > 0 ? "]}" : "]";
    };
    WalkedFolder start{{top.parentId, {}, top.id}, 0};
    std::memcpy(start.name, top.name, sizeof start.name);
    return WalkFolderTree(start, visitor);
}

void PrintUtf8(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace

int CommandVolumes(const CliArgs& args)
{
    if (args.positional.size() != 1) return UsageError("volumes takes IMAGE");
    if (!OpenImageOnly(args.positional[0], false)) return kExitFailed;
    const bool json = args.Has("--json");
    std::string objects;
    for (unsigned i = 0; i < MacPaneState.count; ++i) {
        const MacItem* v = MacPaneState.items[i];
        const ScannedVolume* found = ScannedVolumeAt(i);
        const std::string problem = found ? found->problem : std::string();
        const std::string readOnly = found && problem.empty() ? found->readOnlyReason : std::string();
        if (!json) {
            std::printf("%u %u %u %s", i + 1, v->size, v->resourceSize, MacNameUtf8(v->name).c_str());
            if (!problem.empty())
                std::printf(" (not opened: %s)", problem.c_str());
            else if (!readOnly.empty())
                std::printf(" (read only: %s)", readOnly.c_str());
            std::printf("\n");
            continue;
        }
        const char* kind = found ? VolumeKindText(found->kind) : nullptr;
        objects += (i ? ", " : "") + JsonObject({{"index", JsonNumber(i + 1)},
                                                 {"start", JsonNumber(v->size)},
                                                 {"blocks", JsonNumber(v->resourceSize)},
                                                 {"name", JsonString(MacNameExact(v->name))},
                                                 {"kind", kind ? JsonString(kind) : "\"HFS\""},
                                                 {"notOpened", problem.empty() ? "null" : JsonString(problem)},
                                                 {"readOnly", readOnly.empty() ? "null" : JsonString(readOnly)}});
    }
    if (json) PrintUtf8("[" + objects + "]\n");
    return kExitOk;
}

int CommandLs(const CliArgs& args)
{
    if (args.positional.empty() || args.positional.size() > 2) return UsageError("ls takes IMAGE[@N] [MACPATH]");
    if (!ApplySortOption(args)) return kExitUsage;
    CurrentOptions.hideInvisible = !args.Has("-a");
    if (!OpenImageVolume(args.positional[0], false)) return kExitFailed;
    MacPathTarget target;
    const std::string path = args.positional.size() > 1 ? args.positional[1] : "";
    if (!ResolveCliPath(path, &target)) return kExitFailed;
    if (target.kind != kItemFolder) return Fail("not a folder: " + path);
    const bool recursive = args.Has("-R");
    std::string headerPath;
    for (const std::string& part : SplitMacPath(Utf8ToAnsi(path).c_str())) headerPath = ChildPath(headerPath, part);
    if (!args.Has("--json")) {
        if (!ListTree(target, headerPath, recursive, recursive, nullptr)) return FailWithStatus(path);
        return kExitOk;
    }
    std::string items;
    if (!ListTree(target, headerPath, recursive, recursive, &items)) return FailWithStatus(path);
    PrintUtf8(JsonObject({{"path", JsonString(MacTextExact(headerPath))}, {"items", items}}) + "\n");
    return kExitOk;
}

int CommandCat(const CliArgs& args)
{
    if (args.positional.size() != 2) return UsageError("cat takes IMAGE[@N] MACPATH");
    if (!OpenImageVolume(args.positional[0], false)) return kExitFailed;
    MacPathTarget target;
    if (!ResolveCliPath(args.positional[1], &target)) return kExitFailed;
    if (target.kind != kItemFile) return Fail("not a file: " + args.positional[1]);
    ForkRef ref;
    if (LookupFile(target.name, target.parentId, &ref) != 0) return FailWithStatus();
    PinBlock(ref.recordBuffer);
    const uint8_t fork = args.Has("--rsrc") ? kResourceFork : kDataFork;
    uint64_t remaining = GetU32(ref.recordBuffer->data + ref.recordOffset + ForkLogicalOffset(fork));
    std::vector<uint8_t> buffer(MaxTransferBytes);
    uint32_t block = 0;
    while (remaining > 0) {
        const uint16_t wanted = static_cast<uint16_t>(
            std::min<uint64_t>((remaining + 511) / 512, MaxTransferBytes / 512));
        const uint16_t got = ReadForkBlocks(buffer.data(), block, wanted, fork, &ref);
        if (got == 0) {
            UnpinBlock(ref.recordBuffer);
            return FailWithStatus();
        }
        const uint64_t bytes = std::min<uint64_t>(remaining, uint64_t{got} * 512);
        if (std::fwrite(buffer.data(), 1, bytes, stdout) != bytes) {
            UnpinBlock(ref.recordBuffer);
            return Fail(std::string("could not write to standard output: ") + std::strerror(errno));
        }
        remaining -= bytes;
        block += got;
    }
    UnpinBlock(ref.recordBuffer);
    return kExitOk;
}

namespace {

// One line of `info`: its text label and value (no label: JSON only), and
// its JSON member.
struct InfoField {
    const char* label;
    std::string text;
    const char* key;
    std::string json;
};

int PrintInfo(const std::vector<InfoField>& fields, bool json)
{
    if (json) {
        std::vector<std::pair<const char*, std::string>> members;
        for (const InfoField& f : fields) members.emplace_back(f.key, f.json);
        PrintUtf8(JsonObject(members) + "\n");
        return kExitOk;
    }
    for (const InfoField& f : fields)
        if (f.label) PrintUtf8(std::string(f.label) + ": " + f.text + "\n");
    return kExitOk;
}

std::vector<InfoField> VolumeFields()
{
    const uint8_t* mdb = MacVolume.mdb->data;
    const uint64_t blockBytes = uint64_t{MacVolume.allocBlockSize} * 512;
    const uint32_t created = GetU32(mdb + kMdbCreated), modified = GetU32(mdb + kMdbModified);
    const uint16_t blocks = GetU16(mdb + kMdbAllocBlocks), free = GetU16(mdb + kMdbFreeBlocks);
    const uint32_t files = GetU32(mdb + kMdbFileCount), folders = GetU32(mdb + kMdbFolderCount);
    const uint32_t nextId = GetU32(mdb + kMdbNextCatalogId);
    // Without its backup copy a volume can only be opened read only.
    const bool backup = MacVolume.volumeSize >= 2 &&
                        ReadDeviceBlocks(ScratchBuffer, 1, MacVolume.partitionStart + MacVolume.volumeSize - 2) == 1 &&
                        GetU16(ScratchBuffer) == kHfsSignature;
    StatusCode = 0;
    std::vector<InfoField> fields = {
        {"Volume", MacNameUtf8(mdb + kMdbVolumeName), "name", JsonString(MacNameExact(mdb + kMdbVolumeName))},
        {"Created", MacDateText(created), "created", JsonDate(created)},
        {"Modified", MacDateText(modified), "modified", JsonDate(modified)},
        {"Size",
         Bytes(uint64_t{MacVolume.volumeSize} * 512) + " (" + std::to_string(MacVolume.volumeSize) +
             " blocks of 512 bytes)",
         "blocks", JsonNumber(MacVolume.volumeSize)},
        {"Allocation blocks", std::to_string(blocks) + " of " + Bytes(blockBytes), "allocationBlocks",
         JsonNumber(blocks) + ", \"allocationBlockSize\": " + JsonNumber(blockBytes)},
        {"Free", Bytes(free * blockBytes) + " (" + std::to_string(free) + " allocation blocks)", "freeBlocks",
         JsonNumber(free) + ", \"freeBytes\": " + JsonNumber(free * blockBytes)},
        {"Files", std::to_string(files), "files", JsonNumber(files)},
        {"Folders", std::to_string(folders), "folders", JsonNumber(folders)},
        {"Next ID", std::to_string(nextId), "nextId", JsonNumber(nextId)},
        {"Backup MDB", backup ? "present" : "missing", "backupMdb", backup ? "true" : "false"},
    };
    if (MacVolume.writeRefusal)
        fields.push_back({"Read only", MacVolume.writeRefusal, "readOnly", JsonString(MacVolume.writeRefusal)});
    if (const char* warning = DriveImageWarning(&DriveTable[MacDriveIndex]))
        fields.push_back({"Image warning", warning, "imageWarning", JsonString(warning)});
    return fields;
}

}  // namespace

int CommandInfo(const CliArgs& args)
{
    if (args.positional.empty() || args.positional.size() > 2) return UsageError("info takes IMAGE[@N] [MACPATH]");
    if (!OpenImageVolume(args.positional[0], false)) return kExitFailed;
    const bool json = args.Has("--json");
    if (args.positional.size() == 1) return PrintInfo(VolumeFields(), json);

    MacPathTarget target;
    if (!ResolveCliPath(args.positional[1], &target)) return kExitFailed;
    BlockBuffer* leaf = nullptr;
    uint16_t offset = 0;
    if (SearchCatalog(CatalogRoot(), target.parentId, target.name, nullptr, &offset, &leaf) != 0)
        return FailWithStatus(args.positional[1]);
    const uint16_t end = RecordEndAt(leaf, offset);
    const uint16_t data = RecordDataOffset(leaf, offset);
    if (end == 0 || data + (target.kind == kItemFolder ? kFolderRecordSize : kFileRecordSize) > end) {
        ReportCorruption("catalog record shorter than its type");
        return FailWithStatus(args.positional[1]);
    }
    const uint8_t* d = leaf->data + data;
    std::string path;
    for (const std::string& part : SplitMacPath(Utf8ToAnsi(args.positional[1]).c_str())) path = ChildPath(path, part);
    std::vector<InfoField> fields = {
        {"Name", MacNameUtf8(target.name), "name", JsonString(MacNameExact(target.name))},
        {nullptr, {}, "path", JsonString(MacTextExact(path))}};
    uint32_t created = 0, modified = 0;
    if (target.kind == kItemFolder) {
        const uint16_t count = GetU16(d + kFolderValence);
        fields.push_back({"Kind", "folder", "kind", "\"folder\""});
        fields.push_back({"Items", std::to_string(count), "count", JsonNumber(count)});
        created = GetU32(d + kFolderCreated);
        modified = GetU32(d + kFolderModified);
    } else {
        const uint16_t flags = GetU16(d + kFileFinderFlags);
        const bool invisible = (d[kFileFinderFlags] & kFinderInvisibleByteBit) != 0;
        const uint32_t dataSize = GetU32(d + kFileRecDataLogical), rsrcSize = GetU32(d + kFileRecRsrcLogical);
        char flagText[32];
        std::snprintf(flagText, sizeof flagText, "0x%04X%s", flags, invisible ? " (invisible)" : "");
        fields.push_back({"Kind", "file", "kind", "\"file\""});
        fields.push_back({"Type", FourChars(d + kFileType), "type", JsonCode(d + kFileType)});
        fields.push_back({"Creator", FourChars(d + kFileCreator), "creator", JsonCode(d + kFileCreator)});
        fields.push_back({"Finder flags", flagText, "finderFlags",
                          JsonNumber(flags) + ", \"invisible\": " + (invisible ? "true" : "false")});
        fields.push_back({"Data fork", Bytes(dataSize), "dataSize", JsonNumber(dataSize)});
        fields.push_back({"Resource fork", Bytes(rsrcSize), "resourceSize", JsonNumber(rsrcSize)});
        created = GetU32(d + kFileCreated);
        modified = GetU32(d + kFileModified);
    }
    fields.push_back({"Created", MacDateText(created), "created", JsonDate(created)});
    fields.push_back({"Modified", MacDateText(modified), "modified", JsonDate(modified)});
    fields.push_back({"ID", std::to_string(target.id), "id", JsonNumber(target.id)});
    return PrintInfo(fields, json);
}
