#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/volume_scan.h"
#include "platform/cp1252.h"
#include "platform/platform.h"

bool CliArgs::Has(const char* flag) const
{
    for (const std::string& f : flags)
        if (f == flag) return true;
    return false;
}

const std::string* CliArgs::Option(const char* name) const
{
    for (const auto& [key, value] : options)
        if (key == name) return &value;
    return nullptr;
}

bool ParseArgs(int argc, char** argv, int first, const std::vector<std::string>& knownFlags,
               const std::vector<std::string>& valued, CliArgs* out)
{
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            out->positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        bool known = false;
        for (const std::string& v : valued) {
            if (word != v) continue;
            if (i + 1 >= argc) {
                UsageError(word + " needs a value");
                return false;
            }
            out->options.emplace_back(word, argv[++i]);
            known = true;
        }
        for (const std::string& f : knownFlags) {
            if (word != f) continue;
            out->flags.push_back(word);
            known = true;
        }
        if (!known) {
            UsageError("unknown option " + word + " (a name that begins with - goes after --)");
            return false;
        }
    }
    return true;
}

// ---- text ----------------------------------------------------------------------

std::string ShownText(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(utf8[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<uint8_t>(utf8[i + 1]) >= 0x80 &&
                   static_cast<uint8_t>(utf8[i + 1]) < 0xA0) {
            out += '?';  // U+0080..U+009F, the C1 controls
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool MacTextFromUtf8(const std::string& utf8, std::string* engineText, char32_t* bad)
{
    std::string mac;
    if (!Utf8ToMacRoman(utf8, &mac, bad)) return false;
    engineText->clear();
    for (char c : mac) *engineText += static_cast<char>(MacCharToPc(static_cast<uint8_t>(c)));
    return true;
}

std::string Utf8ToAnsi(const std::string& utf8)
{
    std::string text;
    if (MacTextFromUtf8(utf8, &text)) return text;
    // Unchecked text: convert what can be, character by character.
    text.clear();
    size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = 0;
        unsigned length = 1;
        uint8_t mac = '?';
        if (!DecodeUtf8(utf8, i, cp, length) || !UnicodeToMacChar(cp, &mac)) mac = '?';
        text += static_cast<char>(MacCharToPc(mac));
        i += length;
    }
    return text;
}

std::string MacTextExact(const std::string& engineText)
{
    std::string mac;
    for (char c : engineText) mac += static_cast<char>(PcCharToMac(static_cast<uint8_t>(c)));
    return MacRomanToUtf8(reinterpret_cast<const uint8_t*>(mac.data()), mac.size());
}

std::string MacTextShown(const std::string& engineText) { return ShownText(MacTextExact(engineText)); }

std::string MacNameExact(const uint8_t* macName)
{
    return MacRomanToUtf8(macName + 1, MacNameLength(macName));
}

std::string MacNameUtf8(const uint8_t* macName) { return ShownText(MacNameExact(macName)); }

std::string AnsiToUtf8(const std::string& text) { return ShownText(Cp1252ToUtf8(text)); }

void PrintAnsi(const std::string& text)
{
    const bool newline = !text.empty() && text.back() == '\n';
    std::string shown = MacTextShown(newline ? text.substr(0, text.size() - 1) : text);
    if (newline) shown += '\n';
    std::fwrite(shown.data(), 1, shown.size(), stdout);
}

// ---- failures --------------------------------------------------------------------

namespace {

bool usageErrorSeen = false;

}  // namespace

int Fail(const std::string& message)
{
    std::fprintf(stderr, "quaylink-cli: %s\n", ShownText(message).c_str());
    return kExitFailed;
}

int UsageError(const std::string& message)
{
    usageErrorSeen = true;
    std::fprintf(stderr, "quaylink-cli: %s (see quaylink-cli --help)\n", ShownText(message).c_str());
    return kExitUsage;
}

bool UsageErrorSeen() { return usageErrorSeen; }

int FailWithStatus(const std::string& what)
{
    char text[128];
    if (StatusCode == 0) StatusCode = kStatusBadNode;
    if (StatusMessage(StatusCode, text, sizeof text)) {
        std::string line = text;
        if (!what.empty()) line += ": " + ShownText(what);
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    StatusCode = 0;
    return kExitFailed;
}

// ---- images and paths --------------------------------------------------------------

namespace {

bool PathExists(const std::string& path) { return FileExists(path.c_str()) || IsDirectory(path.c_str()); }

// "image.dsk@2" -> ("image.dsk", 2). A trailing "@..." names the volume
// unless the whole text is the path of an existing file; what follows the
// "@" must then be a volume number from 1. False (a usage error printed)
// when it is not.
bool SplitImageSpec(const std::string& spec, std::string* path, unsigned* volume)
{
    *path = spec;
    *volume = 1;
    const size_t at = spec.rfind('@');
    if (at == std::string::npos || spec.find_first_of("/\\", at) != std::string::npos) return true;
    if (PathExists(spec) && !PathExists(spec.substr(0, at))) return true;
    const std::string number = spec.substr(at + 1);
    unsigned long n = 0;
    if (!number.empty() && number.size() <= 3 && number.find_first_not_of("0123456789") == std::string::npos)
        n = std::strtoul(number.c_str(), nullptr, 10);
    if (n == 0 || n > kVolumeListLimit) {
        UsageError("bad volume number in " + spec + ": @N counts the volumes from 1");
        return false;
    }
    *path = spec.substr(0, at);
    *volume = static_cast<unsigned>(n);
    return true;
}

// Opens the image and lists its volumes; a failure names the image and, when
// it is plain, why: another program's lock, a missing file, a directory, or
// an image file whose own header does not hold together.
bool OpenDrive(const std::string& path, bool writable)
{
    if (OpenImageAsMacDrive(path.c_str(), writable)) return true;
    if (MacDriveWasInUse()) {
        StatusCode = 0;
        Fail("the image is in use by another program: " + path);
        return false;
    }
    std::string what = path;
    const char* warning = DriveCount > 0 ? DriveImageWarning(&DriveTable[0]) : nullptr;
    if (IsDirectory(path.c_str()))
        what += ": a directory, not a disk image";
    else if (!FileExists(path.c_str()))
        what += ": no such file";
    else if (warning)
        what += std::string(": ") + warning;
    FailWithStatus(what);
    return false;
}

}  // namespace

bool OpenImageOnly(const std::string& imageSpec, bool writable)
{
    std::string path;
    unsigned volume = 1;
    return SplitImageSpec(imageSpec, &path, &volume) && OpenDrive(path, writable);
}

bool OpenImageVolume(const std::string& imageSpec, bool writable, bool listRoot)
{
    std::string path;
    unsigned volume = 1;
    if (!SplitImageSpec(imageSpec, &path, &volume) || !OpenDrive(path, writable)) return false;
    if (MacPaneState.count == 0) {
        StatusCode = kStatusNoVolume;
        FailWithStatus(path);
        return false;
    }
    if (volume > MacPaneState.count) {
        UsageError(imageSpec + ": the image holds " + std::to_string(MacPaneState.count) + " volume" +
                   (MacPaneState.count == 1 ? "" : "s") + "; there is no volume " + std::to_string(volume));
        return false;
    }
    if (!OpenListedVolume(volume - 1, listRoot)) {
        const ScannedVolume* found = ScannedVolumeAt(volume - 1);
        FailWithStatus(found && !found->problem.empty() ? path + "@" + std::to_string(volume) + ": " + found->problem
                                                        : imageSpec);
        return false;
    }
    const std::vector<std::string>& blockers = WriteBlockers();
    if (writable && !blockers.empty()) {
        // Refused before anything is written, rather than at the first write.
        StatusCode = kStatusReadOnly;
        FailWithStatus();
        const size_t more = blockers.size() - 1;
        Fail(imageSpec + ": the volume is damaged where a write would spread the damage, so it is read only: " +
             AnsiToUtf8(blockers[0]) + (more ? " (and " + std::to_string(more) + " more)" : "") +
             "; quaylink-cli check lists every problem");
        return false;
    }
    return true;
}

bool ResolveCliPath(const std::string& utf8Path, MacPathTarget* out, MacPathTarget* parent)
{
    LastCorruption = nullptr;
    const std::string path = Utf8ToAnsi(utf8Path);
    // A name longer than a Mac name cannot be on the volume; cut to 31
    // characters it could find another item.
    bool tooLong = false;
    for (const std::string& part : SplitMacPath(path.c_str())) tooLong = tooLong || part.size() > kMaxMacName;
    const Lookup found = tooLong ? Lookup::Missing : FindMacPath(path.c_str(), out, parent);
    if (found == Lookup::Found) return true;
    if (found == Lookup::Missing) {
        Fail("no such file or folder on the volume: " + utf8Path);
        return false;
    }
    // What the damage was, when it was damage.
    FailWithStatus(LastCorruption ? utf8Path + ": " + LastCorruption : utf8Path);
    return false;
}
