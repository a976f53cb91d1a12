// get and put: files named on the command line copied between the volume and
// the PC through one of the five translators, as the desktop program copies
// them. A name that is taken is settled by the policy given (--rename,
// --skip, --overwrite), which answers the taken-name questions; with none, the
// names are checked before anything is written and a clash stops the command
// with nothing changed. Two sources that land on one name clash with each
// other the same way, and --overwrite never replaces a file this command
// wrote. Each file put is flushed; a failure drops the unflushed changes and
// prints the status message.
//
// Both commands look names up in the catalog and never list the folders
// they work in, so a copy into a big folder costs what a lookup costs.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "cli/cli.h"
#include "cli/cli_window.h"
#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "hfs/catalog_keys.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "transfer/pc_items.h"
#include "translate/byte_stream.h"
#include "translate/names.h"
#include "translate/registry.h"
#include "ui/copy_commands.h"
#include "ui/mac_pane.h"
#include "ui/pc_pane.h"

namespace {

enum class ClashPolicy { Stop, Rename, Skip, OverWrite };

// Answers the taken-name questions by the policy; other messages go to
// standard error as the other commands print them.
class TransferWindowSystem : public CliWindow {
public:
    explicit TransferWindowSystem(ClashPolicy policy) : policy_(policy) {}

    // A tree copy stops at a clash that stops the command, as Cancel does.
    void StopCancels() { stopCancels_ = true; }

    NameExistsAnswer AskNameExists(WindowHandle, NameSide nameSide, char* name) override
    {
        const bool mac = nameSide == NameSide::Mac;
        const std::string shown = mac ? MacTextShown(name) : AnsiToUtf8(name);
        const char* side = mac ? "on the volume" : "in the PC directory";
        switch (policy_) {
        case ClashPolicy::Skip:
            std::fprintf(stderr, "quaylink-cli: skipped %s: the name is taken %s\n", shown.c_str(), side);
            return NameExistsAnswer::Skip;
        case ClashPolicy::OverWrite:
            // Asked again for the name just overwritten: a folder holds it.
            if (mac && overwritten_ == name) return Stop("cannot overwrite the folder " + shown);
            if (writtenEarlier_ && writtenEarlier_(name)) {
                std::fprintf(stderr, "quaylink-cli: not copied: %s: %s names a file this command wrote from an earlier source\n",
                             source_.c_str(), shown.c_str());
                ++refusals_;
                return NameExistsAnswer::Skip;
            }
            overwritten_ = name;
            return NameExistsAnswer::Overwrite;
        case ClashPolicy::Rename:
            if (mac && MakeFreeMacName(name)) return NameExistsAnswer::NewName;
            if (StatusCode != 0) return NameExistsAnswer::Cancel;
            return Stop("no free name for " + shown + " " + side);
        case ClashPolicy::Stop:
            break;
        }
        return Stop(shown + " already exists " + side + " (use --rename, --skip or --overwrite)");
    }

    // Before each file: a repeated OverWrite is about that file only.
    void NextFile(const std::string& source)
    {
        overwritten_.clear();
        source_ = source;
        refusalsBefore_ = refusals_;
    }
    // Whether the file begun last was refused, and whether any was.
    bool RefusedThisFile() const { return refusals_ > refusalsBefore_; }
    bool Refused() const { return refusals_ > 0; }
    bool Stopped() const { return stopped_; }
    // Tells a name this command wrote (which --overwrite must not replace).
    void SetWrittenEarlier(std::function<bool(const char*)> test) { writtenEarlier_ = std::move(test); }

private:
    NameExistsAnswer Stop(const std::string& why)
    {
        std::fprintf(stderr, "quaylink-cli: %s\n", why.c_str());
        stopped_ = true;
        if (stopCancels_) StatusCode = kStatusCancelled;
        return NameExistsAnswer::Cancel;
    }

    ClashPolicy policy_;
    std::string overwritten_;
    std::string source_;
    std::function<bool(const char*)> writtenEarlier_;
    bool stopped_ = false;
    bool stopCancels_ = false;
    unsigned refusals_ = 0;
    unsigned refusalsBefore_ = 0;
};

// Installs a window system for the command's length.
class ScopedWindowSystem {
public:
    explicit ScopedWindowSystem(WindowSystem* ws) : previous_(&Ws()) { SetWindowSystem(ws); }
    ~ScopedWindowSystem() { SetWindowSystem(previous_); }
    ScopedWindowSystem(const ScopedWindowSystem&) = delete;
    ScopedWindowSystem& operator=(const ScopedWindowSystem&) = delete;

private:
    WindowSystem* previous_;
};

bool ParsePolicy(const CliArgs& args, ClashPolicy* out)
{
    int given = 0;
    *out = ClashPolicy::Stop;
    static const std::pair<const char*, ClashPolicy> kFlags[] = {
        {"--rename", ClashPolicy::Rename}, {"--skip", ClashPolicy::Skip}, {"--overwrite", ClashPolicy::OverWrite}};
    for (const auto& [flag, policy] : kFlags) {
        if (!args.Has(flag)) continue;
        *out = policy;
        ++given;
    }
    return given <= 1;
}

bool ParseTranslator(const CliArgs& args, uint16_t* index)
{
    static const char* const kNames[] = {"data", "text", "resource", "macbinary", "binhex"};
    const std::string* as = args.Option("--as");
    *index = kDataTranslator;
    if (!as) return true;
    for (uint16_t i = 0; i < 5; ++i) {
        if (*as == kNames[i]) {
            *index = i;
            return true;
        }
    }
    return false;
}

// The options of a copy from the command line: dates kept, both type maps
// on, renaming only when asked; the translators' settings and the maps
// come from PIER.INI and PIER.FTM beside the program, the maps read once for
// the whole command.
void PrepareTransfer(ClashPolicy policy)
{
    BuildFilePaths();
    CurrentOptions.keepDate = true;
    CurrentOptions.macUseMap = true;
    CurrentOptions.pcUseMap = true;
    CurrentOptions.autoRename = policy == ClashPolicy::Rename;
    RegisterAllTranslators();
    HoldTypeMaps();
    // MacBinary and BinHex files carry their usual extension unless the
    // settings give another.
    if (TranslatorTable[kMacBinaryTranslator].extension[0] == 0)
        std::snprintf(TranslatorTable[kMacBinaryTranslator].extension, 4, "bin");
    if (TranslatorTable[kBinHexTranslator].extension[0] == 0)
        std::snprintf(TranslatorTable[kBinHexTranslator].extension, 4, "hqx");
}

// The PC name a copy of `target` will ask for, before any clash is settled.
bool PlannedPcName(const MacPathTarget& target, uint16_t index, char* name)
{
    TransferRecord record{};
    std::memcpy(record.name, target.name, sizeof target.name);
    record.parentId = target.parentId;
    const int slot = OpenStream(StreamMacFork, &record);
    if (slot < 0) return false;
    char extension[12];
    const Translator& translator = TranslatorTable[index];
    if (index == kDataTranslator && CurrentOptions.macUseMap)
        LookupMacTypeMap(slot, extension, translator.extension);
    else
        std::snprintf(extension, sizeof extension, "%s", translator.extension);
    CloseStream(slot);
    MacNameToPc(name, target.name, true);
    SanitizePcName(name, extension);
    return StatusCode == 0;
}

// PC names compared as a file system that ignores case would: a set of
// files got on Linux must still fit one directory on Windows.
std::string FoldedPcName(const char* name)
{
    std::string folded = name;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// The folded names of what the operation's PC directory holds: a copy of many
// files rules most names out with one read of the directory instead of a
// look per name. A name found here is still looked at (the file system may
// compare names exactly); false when the directory cannot be read.
bool ListCurrentPcNames(std::set<std::string>* out)
{
    return ListDir(
        CurrentOptions.pcDirectory.empty() ? "." : CurrentOptions.pcDirectory.c_str(),
        [](const DirEntry& entry, void* context) {
            char ansi[1024];
            if (NativeToAnsi(entry.name, ansi, sizeof ansi))
                static_cast<std::set<std::string>*>(context)->insert(FoldedPcName(ansi));
            return true;
        },
        out);
}

// Splits a native path into its directory ("" for none) and last name.
void SplitPcPath(const std::string& path, std::string* directory, std::string* base)
{
    size_t cut = path.find_last_of(PathSeparator() == '/' ? "/" : "/\\");
    if (cut == std::string::npos) {
        directory->clear();
        *base = path;
        return;
    }
    *directory = cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
    *base = path.substr(cut + 1);
}
// Tells whether a name in the Mac pane's folder is a file made from now on.
// Catalog IDs are handed out in rising order and never reused: a file whose
// number is at least the next ID as it stands now was made by this command.
std::function<bool(const char*)> MacFilesMadeFromNowOn()
{
    const uint32_t firstNewId = GetU32(MacVolume.mdb->data + kMdbNextCatalogId);
    return [firstNewId](const char* name) {
        uint8_t macName[32];
        PcNameToMac(macName, name);
        MacPathTarget item;
        return FindMacItem(MacPaneState.folderId, macName, &item) == Lookup::Found && item.kind == kItemFile &&
               item.id >= firstNewId;
    };
}

// The Windows-1252 form of a PC file's native base name, which the engine
// names it by; false (reported) when it has characters Windows-1252 lacks or
// is longer than a PC name may be.
bool AnsiBaseName(const std::string& base, const std::string& argument, std::string* ansiName)
{
    char ansi[1024];
    char native[1024];
    if (!NativeToAnsi(base.c_str(), ansi, sizeof ansi) || !AnsiToNative(ansi, native, sizeof native) ||
        base != native || std::strlen(ansi) > 255) {
        Fail("the name of " + argument + " has characters outside Windows-1252");
        return false;
    }
    *ansiName = ansi;
    return true;
}


constexpr const char* kStandardInput = "-";

struct PutSource {
    std::string argument;    // as given
    std::string path;        // native, to open it
    std::string directory;   // native; "" for the current one
    std::string ansiName;    // the file's name as the engine sees it
};

// Only a regular file is read as a source: a FIFO or a device could block
// or never end, and a link is not followed. The file is opened once, by the
// copy.
bool CheckPutSource(const std::string& argument, PutSource* out)
{
    out->argument = argument;
    out->path = argument;
    std::string base;
    SplitPcPath(argument, &out->directory, &base);
    switch (base.empty() ? PathKind::Missing : GetPathKind(argument.c_str())) {
    case PathKind::Regular:
        break;
    case PathKind::Directory:
        Fail("not a file: " + argument + " (folders are not copied by put)");
        return false;
    case PathKind::Link:
        Fail("not a regular file: " + argument + " is a symbolic link (links are not followed)");
        return false;
    case PathKind::Other:
        Fail("not a regular file: " + argument + " (a FIFO, device or socket; give - to read standard input)");
        return false;
    case PathKind::Missing:
        Fail("cannot open " + argument);
        return false;
    }
    return AnsiBaseName(base, argument, &out->ansiName);
}

// Standard input copied into a file of a private temporary directory, so
// that the translators read it as any other source; both are removed when
// the command ends. The copy stops at `limit` bytes (more than the volume
// could take), so an endless input ends the command.
class StdinSpool {
public:
    StdinSpool() = default;
    StdinSpool(const StdinSpool&) = delete;
    StdinSpool& operator=(const StdinSpool&) = delete;
    ~StdinSpool()
    {
        std::error_code error;
        if (!directory_.empty()) std::filesystem::remove_all(directory_, error);
    }

    // Fills `source` (whose ansiName is the name to give the file). False
    // with a message printed.
    bool Fill(uint64_t limit, PutSource* source)
    {
        try {
            return FillFrom(limit, source);
        } catch (const std::exception&) {  // a temporary path the file names cannot spell
            return Failed("cannot make a temporary copy of standard input");
        }
    }

private:
    bool FillFrom(uint64_t limit, PutSource* source)
    {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::path temp = fs::temp_directory_path(error);
        if (error) return Failed("no temporary directory for standard input");
        std::random_device random;
        for (int attempt = 0; attempt < 100 && directory_.empty(); ++attempt) {
            const fs::path candidate = temp / ("quaylink-stdin-" + std::to_string(random()));
            if (fs::create_directory(candidate, error)) directory_ = candidate;
        }
        if (directory_.empty()) return Failed("cannot make a temporary directory for standard input");
        fs::permissions(directory_, fs::perms::owner_all, error);
        char native[1024];
        if (!AnsiToNative(source->ansiName.c_str(), native, sizeof native))
            return Failed("the name is too long: " + AnsiToUtf8(source->ansiName));
        source->directory = directory_.string();
        source->path = source->directory + PathSeparator() + native;
        const FileHandle file = FileOpen(source->path.c_str(), FileMode::CreateNew);
        if (file == kNoFile) return Failed("cannot make a file named " + AnsiToUtf8(source->ansiName));
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        std::vector<char> buffer(1 << 16);
        uint64_t total = 0;
        bool ok = true;
        for (;;) {
            const size_t got = std::fread(buffer.data(), 1, buffer.size(), stdin);
            if (got == 0) {
                ok = !std::ferror(stdin);
                if (!ok) Fail("cannot read standard input");
                break;
            }
            total += got;
            if (total > limit) {
                ok = false;
                Fail("standard input holds more than the volume could take");
                break;
            }
            if (FileWrite(file, buffer.data(), got) != static_cast<int64_t>(got)) {
                ok = false;
                Fail("cannot write the copy of standard input in " + source->directory);
                break;
            }
        }
        FileClose(file);
        return ok;
    }

    bool Failed(const std::string& message)
    {
        Fail(message);
        return false;
    }

    std::filesystem::path directory_;
};

// The name inside a MacBinary file, read from its header; false when the
// header cannot be read or does not hold a name (the copy refuses the file).
bool MacBinaryName(const PutSource& source, uint8_t* macName)
{
    constexpr unsigned kHeaderSize = 128;
    constexpr unsigned kNameLength = 1;   // then the name's characters
    constexpr unsigned kMustBeZero = 82;
    const FileHandle file = FileOpen(source.path.c_str(), FileMode::Read);
    if (file == kNoFile) return false;
    uint8_t header[kHeaderSize];
    const bool whole = FileRead(file, header, sizeof header) == static_cast<int64_t>(sizeof header);
    FileClose(file);
    if (!whole || header[kNameLength] == 0 || header[kNameLength] > kMaxMacName || header[kMustBeZero] != 0)
        return false;
    std::memcpy(macName, header + kNameLength, 1u + header[kNameLength]);
    return true;
}

// Ends a failed put: the message, then the unflushed changes dropped.
int FailPut()
{
    if (StatusCode == 0) StatusCode = kStatusBadNode;
    ReportStatus(MainWindow);
    return kExitFailed;
}

// Drops the held type maps when the command ends.
struct HeldTypeMapsScope {
    HeldTypeMapsScope() = default;
    HeldTypeMapsScope(const HeldTypeMapsScope&) = delete;
    HeldTypeMapsScope& operator=(const HeldTypeMapsScope&) = delete;
    ~HeldTypeMapsScope() { ReleaseTypeMaps(); }
};


// ---- tree copies (-r, and the filters) ---------------------------------------
// They run the desktop program's Copy command: the CLI lists each source
// folder into the pane, selects the named items and answers the
// confirmation with OK.

// The copy preferences the command's flags stand for; the CLI never saves them.
void PrepareTreeCopy(ClashPolicy policy)
{
    Prefs.CopyPrefs = 0;
    Prefs.KeepDate = 1;
    Prefs.MacUseMap = 1;
    Prefs.PCUseMap = 1;
    Prefs.AutoRename = policy == ClashPolicy::Rename;
    Prefs.AllowUpper = CurrentOptions.allowUpper;
    Prefs.HideInvisible = 0;  // a tree is copied whole
    Prefs.MacCopyDir = 1;
    Prefs.PCCopyDir = 1;
    CurrentOptions.hideInvisible = false;
}

// How a tree copy ended: 0 when it ran whole.
int TreeCopyStatus(const TransferWindowSystem& ws)
{
    if (ws.Interrupted()) {
        std::fprintf(stderr, "quaylink-cli: Cancelled\n");
        return kExitFailed;
    }
    return ws.Stopped() || ws.Refused() || ws.FailuresShown() ? kExitFailed : kExitOk;
}

int GetTree(const CliArgs& args, ClashPolicy policy, uint16_t index, const std::string& directory)
{
    const bool recursive = args.Has("-r");
    PrepareTreeCopy(policy);
    Prefs.MacCopyFilter = 0;
    const char* const kFilters[] = {"--type", "--creator", "--ext"};
    char* const kFields[] = {Prefs.MacFilterType, Prefs.MacFilterCrtr, Prefs.MacFilterExt};
    const size_t kSizes[] = {sizeof Prefs.MacFilterType, sizeof Prefs.MacFilterCrtr, sizeof Prefs.MacFilterExt};
    for (int i = 0; i < 3; ++i) {
        kFields[i][0] = 0;
        const std::string* value = args.Option(kFilters[i]);
        if (!value) continue;
        const std::string text = i < 2 ? Utf8ToAnsi(*value) : *value;
        if ((i < 2 && text.size() != 4) || text.empty() || text.size() >= kSizes[i])
            return UsageError(std::string(kFilters[i]) + (i < 2 ? " takes four characters" : " takes 1 to 5 characters"));
        std::snprintf(kFields[i], kSizes[i], "%s", text.c_str());
        Prefs.MacCopyFilter = 1;
    }
    if (!OpenImageVolume(args.positional[0], false, false)) return kExitFailed;
    // The sources grouped by the folder that holds them, in the order given.
    std::vector<std::pair<MacPathTarget, std::vector<MacPathTarget>>> groups;
    for (size_t p = 1; p < args.positional.size(); ++p) {
        MacPathTarget target;
        MacPathTarget parent;
        if (!ResolveCliPath(args.positional[p], &target, &parent)) return kExitFailed;
        if (target.kind != kItemFile && !recursive)
            return Fail("not a file: " + args.positional[p] + " (folders are copied by get -r)");
        if (target.kind == kItemFolder && target.id == kRootFolderId) {
            // The root is copied as its items.
            const std::string* shown = &args.positional[p];
            return Fail("the root folder cannot be copied as a folder: " + *shown + " (name its items)");
        }
        auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first.id == parent.id; });
        if (group == groups.end()) group = groups.insert(groups.end(), {parent, {}});
        group->second.push_back(target);
    }
    TransferWindowSystem ws(policy);
    ScopedWindowSystem installed(&ws);
    ws.StopCancels();
    ws.SetQuiet(args.Has("-q"));
    ws.CatchInterrupt();
    // Two Mac names can clean to one PC name; --overwrite must not let the
    // second replace the first, so the files this command wrote are kept.
    static std::set<std::string> written;
    written.clear();
    PcFileWritten = [](const char* nativePath) { written.insert(FoldedPcName(nativePath)); };
    ws.SetWrittenEarlier([](const char* name) {
        std::string path;
        return PcChildPath(CurrentOptions.pcDirectory, name, &path) && written.count(FoldedPcName(path.c_str())) != 0;
    });
    MacToPcIndex = index;
    PcDirectory = directory;
    for (const auto& [folder, items] : groups) {
        if (!ShowMacFolder(folder)) return FailWithStatus();
        auto& list = ws.List(kIdMacList);
        list.selected.assign(list.items.size(), false);
        for (const MacPathTarget& item : items)
            for (size_t i = 0; i < list.items.size() && i < MacPaneState.count; ++i)
                if (MacPaneState.items[i]->id == item.id && MacPaneState.items[i]->kind == item.kind)
                    list.selected[i] = true;
        ws.NextFile(MacNameUtf8(folder.name));
        CopyMacToPc(MainWindow);
        if (const int status = TreeCopyStatus(ws)) return status;
    }
    return kExitOk;
}

// A source of put -r: a regular file or a directory, never a link.
bool CheckTreeSource(const std::string& argument, std::string* directory, PcItem* item)
{
    std::string path = argument;
    while (path.size() > 1 && (path.back() == '/' || path.back() == PathSeparator())) path.pop_back();
    std::string base;
    SplitPcPath(path, directory, &base);
    const PathKind kind = base.empty() || base == "." || base == ".." ? PathKind::Missing : GetPathKind(path.c_str());
    if (kind == PathKind::Link || kind == PathKind::Other) {
        Fail("not a regular file or directory: " + argument + " (links, FIFOs and devices are not copied)");
        return false;
    }
    if (kind == PathKind::Missing) {
        Fail("cannot open " + argument);
        return false;
    }
    if (!AnsiBaseName(base, argument, &item->name)) return false;
    item->kind = kind == PathKind::Directory ? kPcDirectory : kPcFile;
    return true;
}

int PutTree(const CliArgs& args, ClashPolicy policy, uint16_t index)
{
    PrepareTreeCopy(policy);
    Prefs.PCCopyFilter = 0;
    Prefs.PCFilterExt[0] = 0;
    if (const std::string* ext = args.Option("--ext")) {
        if (ext->empty() || ext->size() >= sizeof Prefs.PCFilterExt)
            return UsageError("--ext takes 1 to 3 characters");
        std::snprintf(Prefs.PCFilterExt, sizeof Prefs.PCFilterExt, "%s", Utf8ToAnsi(*ext).c_str());
        Prefs.PCCopyFilter = 1;
    }
    if (!CurrentOptions.pcUseMap) Prefs.PCUseMap = 0;
    std::vector<std::pair<std::string, std::vector<std::string>>> groups;  // directory, names
    for (size_t p = 1; p < args.positional.size(); ++p) {
        if (args.positional[p] == kStandardInput) return UsageError("standard input (-) is not read by put -r");
        std::string directory;
        PcItem item;
        if (!CheckTreeSource(args.positional[p], &directory, &item)) return kExitFailed;
        if (item.kind == kPcDirectory && !args.Has("-r"))
            return Fail("not a file: " + args.positional[p] + " (directories are copied by put -r)");
        auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == directory; });
        if (group == groups.end()) group = groups.insert(groups.end(), {directory, {}});
        group->second.push_back(item.name);
    }
    if (!OpenImageVolume(args.positional[0], true, false)) return kExitFailed;
    const std::string* to = args.Option("--to");
    MacPathTarget folder;
    if (!ResolveCliPath(to ? *to : ":", &folder)) return kExitFailed;
    if (folder.kind != kItemFolder) return Fail("not a folder: " + *to);
    EnterMacFolderUnlisted(folder);

    TransferWindowSystem ws(policy);
    ScopedWindowSystem installed(&ws);
    ws.StopCancels();
    ws.SetQuiet(args.Has("-q"));
    ws.CatchInterrupt();
    ws.SetWrittenEarlier(MacFilesMadeFromNowOn());
    PcToMacIndex = index;
    for (const auto& [directory, names] : groups) {
        PcDirectory = directory;
        std::vector<PcItem> listed;
        ReadPcDirectory(directory.c_str(), &listed);
        PcItemList.clear();
        for (const std::string& name : names)
            for (const PcItem& item : listed)
                if (item.name == name) PcItemList.push_back(item);
        auto& list = ws.List(kIdPcFileList);
        list.items.clear();
        for (size_t i = 0; i < PcItemList.size(); ++i) list.items.push_back(static_cast<intptr_t>(i));
        list.selected.assign(list.items.size(), true);
        ws.NextFile(directory);
        CopyPcToMac(MainWindow);
        if (const int status = TreeCopyStatus(ws)) return status;
    }
    return kExitOk;
}

}  // namespace

int CommandGet(const CliArgs& args)
{
    if (args.positional.size() < 2) return UsageError("get takes IMAGE[@N] MACPATH...");
    ClashPolicy policy;
    if (!ParsePolicy(args, &policy)) return UsageError("give at most one of --rename, --skip, --overwrite");
    uint16_t index;
    if (!ParseTranslator(args, &index)) return UsageError("--as takes data, text, resource, macbinary or binhex");
    const std::string* outDir = args.Option("-o");
    const std::string directory = outDir ? *outDir : ".";
    if (!IsDirectory(directory.c_str())) return Fail("not a directory: " + directory);
    if (args.Has("-r") || args.Option("--type") || args.Option("--creator") || args.Option("--ext")) {
        HeldTypeMapsScope maps;
        PrepareTransfer(policy);
        return GetTree(args, policy, index, directory);
    }

    HeldTypeMapsScope maps;
    PrepareTransfer(policy);
    if (!OpenImageVolume(args.positional[0], false, false)) return kExitFailed;
    std::vector<MacPathTarget> targets;
    for (size_t p = 1; p < args.positional.size(); ++p) {
        MacPathTarget target;
        if (!ResolveCliPath(args.positional[p], &target)) return kExitFailed;
        if (target.kind != kItemFile)
            return Fail("not a file: " + args.positional[p] + " (folders are not copied by get)");
        targets.push_back(target);
    }

    CurrentOptions.pcDirectory = directory;
    // The names each file will ask for: with no policy all of them are
    // checked before the first is written; two sources that land on one
    // name clash as a taken name does.
    std::vector<std::string> planned(targets.size());
    if (policy == ClashPolicy::Stop || policy == ClashPolicy::OverWrite) {
        bool clash = false;
        std::set<std::string> seen;
        std::set<std::string> present;
        const bool listed = policy == ClashPolicy::Stop && targets.size() > 8 && ListCurrentPcNames(&present);
        for (size_t t = 0; t < targets.size(); ++t) {
            char name[256];
            if (!PlannedPcName(targets[t], index, name)) return FailWithStatus();
            planned[t] = FoldedPcName(name);
            if (policy != ClashPolicy::Stop) continue;
            const bool twice = !seen.insert(planned[t]).second;
            const bool mayExist = !listed || present.count(planned[t]) != 0;
            if (!twice && !(mayExist && PcFileExists(name))) continue;
            Fail(AnsiToUtf8(name) + (twice ? " is the PC name of two sources (" + args.positional[t + 1] + " is one)"
                                           : " already exists in " + directory) +
                 " (use --rename, --skip or --overwrite)");
            clash = true;
        }
        if (clash) return kExitFailed;
    }

    TransferWindowSystem ws(policy);
    ScopedWindowSystem installed(&ws);
    std::set<std::string> written;
    ws.SetWrittenEarlier([&written](const char* name) { return written.count(FoldedPcName(name)) != 0; });
    MacToPcIndex = index;
    for (size_t t = 0; t < targets.size(); ++t) {
        ws.NextFile(args.positional[t + 1]);
        RunMacToPcTranslator(targets[t].name, targets[t].parentId);
        if (StatusCode != 0) return FailWithStatus();
        if (ws.Stopped()) return kExitFailed;
        if (!ws.RefusedThisFile()) written.insert(planned[t]);
    }
    return ws.Refused() ? kExitFailed : kExitOk;
}

int CommandPut(const CliArgs& args)
{
    if (args.positional.size() < 2) return UsageError("put takes IMAGE[@N] FILE...");
    ClashPolicy policy;
    if (!ParsePolicy(args, &policy)) return UsageError("give at most one of --rename, --skip, --overwrite");
    uint16_t index;
    if (!ParseTranslator(args, &index)) return UsageError("--as takes data, text, resource, macbinary or binhex");
    const bool named = index <= kResourceTranslator;  // the Mac name is the PC name; else the file holds it
    const std::string* codes[2] = {args.Option("--type"), args.Option("--creator")};
    std::string ansiCodes[2];
    for (int i = 0; i < 2; ++i) {
        if (!codes[i]) continue;
        if (!named) return UsageError("--type and --creator go with data, text and resource; the file holds its own");
        ansiCodes[i] = Utf8ToAnsi(*codes[i]);
        if (ansiCodes[i].size() != 4) return UsageError("TYPE and CREATOR are four characters each");
    }
    // Given codes stand for every file (after the transfer is prepared): the
    // type map would overrule them.
    auto useGivenCodes = [&] {
        if (!codes[0] && !codes[1]) return;
        Translator& translator = TranslatorTable[index];
        if (codes[0]) std::memcpy(translator.macType, ansiCodes[0].c_str(), 5);
        if (codes[1]) std::memcpy(translator.macCreator, ansiCodes[1].c_str(), 5);
        CurrentOptions.pcUseMap = false;
    };
    const std::string* stdinName = args.Option("--name");
    size_t fromStdin = 0;
    for (size_t p = 1; p < args.positional.size(); ++p) fromStdin += args.positional[p] == kStandardInput;
    if (fromStdin > 1) return UsageError("standard input (-) can be read once");
    if (stdinName && !fromStdin) return UsageError("--name names the file read from standard input (-)");
    if (stdinName && !named) return UsageError("--name goes with data, text and resource; the file holds its own");
    if (args.Has("-r") || args.Option("--ext")) {
        if (stdinName) return UsageError("--name names standard input, which put -r does not read");
        HeldTypeMapsScope maps;
        PrepareTransfer(policy);
        useGivenCodes();
        return PutTree(args, policy, index);
    }
    if (fromStdin && named && !stdinName) return UsageError("a file read from standard input (-) needs --name NAME");
    std::string stdinAnsi = "stdin";
    if (stdinName) {
        stdinAnsi = Utf8ToAnsi(*stdinName);
        if (stdinAnsi.empty() || MacTextExact(stdinAnsi) != *stdinName || stdinAnsi == "." || stdinAnsi == ".." ||
            stdinAnsi.find_first_of(PathSeparator() == '/' ? "/" : "/\\") != std::string::npos)
            return UsageError("--name takes a Mac name without /");
    }
    std::vector<PutSource> sources;
    for (size_t p = 1; p < args.positional.size(); ++p) {
        PutSource source;
        if (args.positional[p] == kStandardInput)
            source = PutSource{kStandardInput, "", "", stdinAnsi};
        else if (!CheckPutSource(args.positional[p], &source))
            return kExitFailed;
        sources.push_back(source);
    }

    HeldTypeMapsScope maps;
    PrepareTransfer(policy);
    useGivenCodes();
    if (!OpenImageVolume(args.positional[0], true, false)) return kExitFailed;
    const std::string* to = args.Option("--to");
    MacPathTarget folder;
    if (!ResolveCliPath(to ? *to : ":", &folder)) return kExitFailed;
    if (folder.kind != kItemFolder) return Fail("not a folder: " + *to);
    EnterMacFolderUnlisted(folder);

    StdinSpool spool;
    for (PutSource& source : sources) {
        if (source.argument != kStandardInput) continue;
        // Twice the volume and a little more: no input the volume can take
        // as data, text or an encoded file is longer.
        const uint64_t limit = uint64_t{MacVolume.volumeSize} * 512 * 2 + (1u << 20);
        if (!spool.Fill(limit, &source)) return kExitFailed;
    }

    // With no policy every name is checked before anything is written. The
    // names of MacBinary files are read from their headers; those of BinHex
    // files lie inside the encoding and are checked as each file is put.
    if (policy == ClashPolicy::Stop && index != kBinHexTranslator) {
        bool clash = false;
        auto before = [](const std::array<uint8_t, 32>& a, const std::array<uint8_t, 32>& b) {
            return CompareMacNames(a.data(), b.data()) < 0;
        };
        std::set<std::array<uint8_t, 32>, decltype(before)> seen(before);
        for (const PutSource& source : sources) {
            std::array<uint8_t, 32> macName{};
            if (named)
                PcNameToMac(macName.data(), source.ansiName.c_str());
            else if (!MacBinaryName(source, macName.data()))
                continue;  // not a MacBinary file: the copy refuses it
            const bool twice = !seen.insert(macName).second;
            MacPathTarget existing;
            const Lookup found = FindMacItem(folder.id, macName.data(), &existing);
            if (found == Lookup::Failed) return FailWithStatus();
            if (found == Lookup::Missing && !twice) continue;
            Fail(MacNameUtf8(macName.data()) +
                 (twice ? " is the Mac name of two sources (" + source.argument + " is one)"
                        : " already exists on the volume") +
                 " (use --rename, --skip or --overwrite)");
            clash = true;
        }
        if (clash) return kExitFailed;
    }

    TransferWindowSystem ws(policy);
    ScopedWindowSystem installed(&ws);
    ws.SetWrittenEarlier(MacFilesMadeFromNowOn());
    PcToMacIndex = index;
    for (const PutSource& source : sources) {
        CurrentOptions.pcDirectory = source.directory;
        ws.NextFile(source.argument);
        RunPcToMacTranslator(source.ansiName.c_str(), folder.id);
        if (StatusCode != 0) return FailPut();
        if (ws.Stopped()) {
            DiscardVolumeChanges();
            return kExitFailed;
        }
        FlushVolume();
        if (StatusCode != 0) return FailPut();
    }
    return ws.Refused() ? kExitFailed : kExitOk;
}
