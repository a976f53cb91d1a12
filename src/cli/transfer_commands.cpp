// get and put: files named on the command line copied between the volume and
// the PC through one of the five translators, as the desktop program copies
// them. A name that is taken is settled by the policy given (--rename,
// --skip, --overwrite), which answers the collision dialogs; with none, the
// names are checked before anything is written and a clash stops the command
// with nothing changed. Each file put is flushed; a failure drops the
// unflushed changes and prints the status message.
#include <array>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli.h"
#include "disk/status.h"
#include "hfs/catalog_keys.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "transfer/names.h"
#include "translate/byte_stream.h"
#include "translate/registry.h"
#include "ui/main_state.h"
#include "ui/prefs.h"

namespace {

enum class ClashPolicy { Stop, Rename, Skip, OverWrite };

// Answers the two collision dialogs by the policy; other messages go to
// standard error as the other commands print them.
class TransferWindowSystem : public HeadlessWindowSystem {
public:
    explicit TransferWindowSystem(ClashPolicy policy) : policy_(policy) {}

    int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) override
    {
        std::fprintf(stderr, "%s%s%s\n", caption ? caption : "", caption ? ": " : "", text);
        return HeadlessWindowSystem::ShowMessage(owner, text, caption, style);
    }

    intptr_t RunDialog(WindowHandle owner, const char* templateName, DialogProc proc, intptr_t param) override
    {
        const bool mac = std::strcmp(templateName, "MCOLLISION") == 0;
        if (!mac && std::strcmp(templateName, "PCOLLISION") != 0)
            return HeadlessWindowSystem::RunDialog(owner, templateName, proc, param);
        char* name = reinterpret_cast<char*>(param);
        const std::string shown = mac ? MacTextShown(name) : AnsiToUtf8(name);
        const char* side = mac ? "on the volume" : "in the PC directory";
        switch (policy_) {
        case ClashPolicy::Skip:
            std::fprintf(stderr, "quaylink-cli: skipped %s: the name is taken %s\n", shown.c_str(), side);
            return kAnswerSkip;
        case ClashPolicy::OverWrite:
            // Asked again for the name just overwritten: a folder holds it.
            if (mac && overwritten_ == name) return Stop("cannot overwrite the folder " + shown);
            overwritten_ = name;
            return kAnswerOverWrite;
        case ClashPolicy::Rename:
            if (mac && MakeFreeMacName(name)) return kAnswerNewName;
            if (StatusCode != 0) return kAnswerCancel;
            return Stop("no free name for " + shown + " " + side);
        case ClashPolicy::Stop:
            break;
        }
        return Stop(shown + " already exists " + side + " (use --rename, --skip or --overwrite)");
    }

    // Before each file: a repeated OverWrite is about that file only.
    void NextFile() { overwritten_.clear(); }
    bool Stopped() const { return stopped_; }

private:
    intptr_t Stop(const std::string& why)
    {
        std::fprintf(stderr, "quaylink-cli: %s\n", why.c_str());
        stopped_ = true;
        return kAnswerCancel;
    }

    ClashPolicy policy_;
    std::string overwritten_;
    bool stopped_ = false;
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

// Puts the current directory back when the command ends.
class ScopedDirectory {
public:
    ScopedDirectory() { valid_ = GetCurrentDir(path_, sizeof path_); }
    ~ScopedDirectory()
    {
        if (valid_) SetCurrentDir(path_);
    }
    ScopedDirectory(const ScopedDirectory&) = delete;
    ScopedDirectory& operator=(const ScopedDirectory&) = delete;

    bool Valid() const { return valid_; }
    bool Restore() const { return valid_ && SetCurrentDir(path_); }

private:
    char path_[4096];
    bool valid_ = false;
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

// The preferences of a copy from the command line: dates kept, both type
// maps on, renaming only when asked; the translators' settings and the maps
// come from PIER.INI and PIER.FTM beside the program.
void PrepareTransfer(ClashPolicy policy)
{
    BuildFilePaths();
    Prefs.KeepDate = 1;
    Prefs.MacUseMap = 1;
    Prefs.PCUseMap = 1;
    Prefs.AutoRename = policy == ClashPolicy::Rename ? 1 : 0;
    RegisterAllTranslators();
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
    if (index == kDataTranslator && Prefs.MacUseMap)
        LookupMacTypeMap(slot, extension, translator.extension);
    else
        std::snprintf(extension, sizeof extension, "%s", translator.extension);
    CloseStream(slot);
    MacNameToPc(name, target.name, true);
    SanitizePcName(name, extension);
    return StatusCode == 0;
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

struct PutSource {
    std::string argument;    // as given
    std::string directory;   // native; "" for the current one
    std::string ansiName;    // the file's name as the engine sees it
};

bool CheckPutSource(const std::string& argument, PutSource* out)
{
    out->argument = argument;
    std::string base;
    SplitPcPath(argument, &out->directory, &base);
    const FileHandle file = base.empty() ? kNoFile : FileOpen(argument.c_str(), FileMode::Read);
    if (file == kNoFile) {
        if (IsDirectory(argument.c_str()))
            Fail("not a file: " + argument + " (folders are not copied by put)");
        else
            Fail("cannot open " + argument);
        return false;
    }
    FileClose(file);
    char ansi[1024];
    char native[1024];
    if (!NativeToAnsi(base.c_str(), ansi, sizeof ansi) || !AnsiToNative(ansi, native, sizeof native) ||
        base != native || std::strlen(ansi) > 255) {
        Fail("the name of " + argument + " has characters outside Windows-1252");
        return false;
    }
    out->ansiName = ansi;
    return true;
}

// The current folder of the pane for a put: --to, or the root.
bool OpenTargetFolder(const CliArgs& args, MacPathTarget* folder)
{
    const std::string* to = args.Option("--to");
    const std::string path = to ? *to : ":";
    if (!ResolveCliPath(path, folder)) return false;
    if (folder->kind != kItemFolder) {
        Fail("not a folder: " + path);
        return false;
    }
    if (!ShowMacFolder(*folder)) {
        FailWithStatus();
        return false;
    }
    return true;
}

// The drive opens the image by its path for every transfer, and the copies
// change the current directory: a relative image path is made absolute.
std::string AbsoluteImageSpec(const std::string& spec)
{
    const bool absolute = !spec.empty() && (spec[0] == '/' || spec[0] == PathSeparator() ||
                                            (PathSeparator() == '\\' && spec.size() > 1 && spec[1] == ':'));
    char cwd[4096];
    if (absolute || !GetCurrentDir(cwd, sizeof cwd)) return spec;
    std::string path = cwd;
    if (path.empty() || path.back() != PathSeparator()) path += PathSeparator();
    return path + spec;
}

// Ends a failed put: the message, then the unflushed changes dropped.
int FailPut()
{
    if (StatusCode == 0) StatusCode = kStatusBadNode;
    ReportStatus(MainWindow);
    return kExitFailed;
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

    PrepareTransfer(policy);
    if (!OpenImageVolume(AbsoluteImageSpec(args.positional[0]), false)) return kExitFailed;
    std::vector<MacPathTarget> targets;
    for (size_t p = 1; p < args.positional.size(); ++p) {
        MacPathTarget target;
        if (!ResolveCliPath(args.positional[p], &target)) return kExitFailed;
        if (target.kind != kItemFile)
            return Fail("not a file: " + args.positional[p] + " (folders are not copied by get)");
        targets.push_back(target);
    }

    ScopedDirectory cwd;
    if (!cwd.Valid() || !SetCurrentDir(directory.c_str())) return Fail("cannot enter " + directory);
    if (policy == ClashPolicy::Stop) {
        bool clash = false;
        for (const MacPathTarget& target : targets) {
            char name[256];
            if (!PlannedPcName(target, index, name)) return FailWithStatus();
            if (!PcFileExists(name)) continue;
            Fail(AnsiToUtf8(name) + " already exists in " + directory + " (use --rename, --skip or --overwrite)");
            clash = true;
        }
        if (clash) return kExitFailed;
    }

    TransferWindowSystem ws(policy);
    ScopedWindowSystem installed(&ws);
    MacToPcIndex = index;
    for (const MacPathTarget& target : targets) {
        ws.NextFile();
        RunMacToPcTranslator(target.name, target.parentId);
        if (StatusCode != 0) return FailWithStatus();
        if (ws.Stopped()) return kExitFailed;
    }
    return kExitOk;
}

int CommandPut(const CliArgs& args)
{
    if (args.positional.size() < 2) return UsageError("put takes IMAGE[@N] FILE...");
    ClashPolicy policy;
    if (!ParsePolicy(args, &policy)) return UsageError("give at most one of --rename, --skip, --overwrite");
    uint16_t index;
    if (!ParseTranslator(args, &index)) return UsageError("--as takes data, text, resource, macbinary or binhex");
    const std::string* codes[2] = {args.Option("--type"), args.Option("--creator")};
    std::string ansiCodes[2];
    for (int i = 0; i < 2; ++i) {
        if (!codes[i]) continue;
        if (index > kResourceTranslator)
            return UsageError("--type and --creator go with data, text and resource; the file holds its own");
        ansiCodes[i] = Utf8ToAnsi(*codes[i]);
        if (ansiCodes[i].size() != 4) return UsageError("TYPE and CREATOR are four characters each");
    }
    std::vector<PutSource> sources;
    for (size_t p = 1; p < args.positional.size(); ++p) {
        PutSource source;
        if (!CheckPutSource(args.positional[p], &source)) return kExitFailed;
        sources.push_back(source);
    }

    PrepareTransfer(policy);
    if (codes[0] || codes[1]) {
        // Given codes stand for every file; the type map would overrule them.
        Translator& translator = TranslatorTable[index];
        if (codes[0]) std::memcpy(translator.macType, ansiCodes[0].c_str(), 5);
        if (codes[1]) std::memcpy(translator.macCreator, ansiCodes[1].c_str(), 5);
        Prefs.PCUseMap = 0;
    }
    if (!OpenImageVolume(AbsoluteImageSpec(args.positional[0]), true)) return kExitFailed;
    MacPathTarget folder;
    if (!OpenTargetFolder(args, &folder)) return kExitFailed;

    // The names of MacBinary and BinHex files are inside them; those clashes
    // are found as each file is put.
    if (policy == ClashPolicy::Stop && index <= kResourceTranslator) {
        bool clash = false;
        auto before = [](const std::array<uint8_t, 32>& a, const std::array<uint8_t, 32>& b) {
            return CompareMacNames(a.data(), b.data()) < 0;
        };
        std::set<std::array<uint8_t, 32>, decltype(before)> planned(before);
        for (const PutSource& source : sources) {
            std::array<uint8_t, 32> macName{};
            PcNameToMac(macName.data(), source.ansiName.c_str());
            const bool twice = !planned.insert(macName).second;
            const int kind = MacNameKind(source.ansiName.c_str());
            if (kind < 0) return FailWithStatus();
            if (kind == 0 && !twice) continue;
            Fail(MacNameUtf8(macName.data()) + (twice ? " is named twice" : " already exists on the volume") +
                 " (use --rename, --skip or --overwrite)");
            clash = true;
        }
        if (clash) return kExitFailed;
    }

    ScopedDirectory cwd;
    if (!cwd.Valid()) return Fail("cannot read the current directory");
    TransferWindowSystem ws(policy);
    ScopedWindowSystem installed(&ws);
    PcToMacIndex = index;
    const std::string* entered = nullptr;  // the directory of the file before
    for (const PutSource& source : sources) {
        if (!entered || *entered != source.directory) {
            if (!cwd.Restore() || (!source.directory.empty() && !SetCurrentDir(source.directory.c_str())))
                return Fail("cannot enter the directory of " + source.argument);
            entered = &source.directory;
        }
        ws.NextFile();
        RunPcToMacTranslator(source.ansiName.c_str(), folder.id);
        if (StatusCode != 0) return FailPut();
        if (ws.Stopped()) {
            DiscardVolumeChanges();
            return kExitFailed;
        }
        FlushVolume();
        if (StatusCode != 0) return FailPut();
    }
    return kExitOk;
}
