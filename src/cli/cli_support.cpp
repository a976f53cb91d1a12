#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "disk/status.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/volume_scan.h"
#include "platform/cp1252.h"

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
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.size() < 2 || word[0] != '-') {
            out->positional.push_back(word);
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
            UsageError("unknown option " + word);
            return false;
        }
    }
    return true;
}

std::string AnsiToUtf8(const std::string& text) { return Cp1252ToUtf8(text); }
std::string Utf8ToAnsi(const std::string& text) { return Utf8ToCp1252(text); }

void PrintAnsi(const std::string& text)
{
    const std::string utf8 = AnsiToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::string MacNameUtf8(const uint8_t* macName)
{
    char pc[kMaxMacName + 1];
    uint8_t name[32];
    name[0] = macName[0] > kMaxMacName ? kMaxMacName : macName[0];
    std::memcpy(name + 1, macName + 1, name[0]);
    MacNameToPc(pc, name, true);
    return AnsiToUtf8(std::string(pc, name[0]));
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "quaylink-cli: %s\n", message.c_str());
    return kExitFailed;
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "quaylink-cli: %s (see quaylink-cli --help)\n", message.c_str());
    return kExitUsage;
}

int FailWithStatus()
{
    char text[128];
    if (StatusCode == 0) StatusCode = kStatusBadNode;
    if (StatusMessage(StatusCode, text, sizeof text)) std::fprintf(stderr, "%s\n", text);
    StatusCode = 0;
    return kExitFailed;
}

namespace {

// "image.dsk@2" -> ("image.dsk", 2). A trailing "@N" with N a whole number
// names the volume; otherwise the whole text is the path.
void SplitImageSpec(const std::string& spec, std::string* path, unsigned* volume)
{
    *path = spec;
    *volume = 1;
    const size_t at = spec.rfind('@');
    if (at == std::string::npos || at + 1 >= spec.size()) return;
    char* end = nullptr;
    const unsigned long n = std::strtoul(spec.c_str() + at + 1, &end, 10);
    if (*end != 0 || n == 0 || n > kVolumeListLimit) return;
    *path = spec.substr(0, at);
    *volume = static_cast<unsigned>(n);
}

}  // namespace

// Opens the image as the drive; on failure says why, naming what is wrong
// with the image file itself when it is that.
bool OpenDrive(const std::string& path, bool writable)
{
    if (OpenImageAsMacDrive(path.c_str(), writable)) return true;
    const char* warning = DriveCount > 0 ? DriveImageWarning(&DriveTable[0]) : nullptr;
    if (StatusCode == kStatusNoVolume && warning) {
        StatusCode = 0;
        Fail(path + ": " + warning);
        return false;
    }
    FailWithStatus();
    if (warning) Fail(path + ": " + warning);
    return false;
}

bool OpenImageOnly(const std::string& imageSpec, bool writable)
{
    std::string path;
    unsigned volume = 1;
    SplitImageSpec(imageSpec, &path, &volume);
    return OpenDrive(path, writable);
}

bool OpenImageVolume(const std::string& imageSpec, bool writable)
{
    std::string path;
    unsigned volume = 1;
    SplitImageSpec(imageSpec, &path, &volume);
    if (!OpenDrive(path, writable)) return false;
    if (MacPaneState.count == 0) {
        StatusCode = kStatusNoVolume;
        FailWithStatus();
        return false;
    }
    if (volume > MacPaneState.count) {
        Fail("the image holds " + std::to_string(MacPaneState.count) + " volume(s); there is no volume " +
             std::to_string(volume));
        return false;
    }
    if (!OpenListedVolume(volume - 1)) {
        const ScannedVolume* found = ScannedVolumeAt(volume - 1);
        FailWithStatus();
        if (found && !found->problem.empty()) Fail(path + "@" + std::to_string(volume) + ": " + found->problem);
        return false;
    }
    return true;
}

bool ResolveCliPath(const std::string& utf8Path, MacPathTarget* out, MacPathTarget* parent)
{
    LastCorruption = nullptr;
    if (ResolveMacPath(Utf8ToAnsi(utf8Path).c_str(), out, parent)) return true;
    if (StatusCode == kStatusBadNode && LastCorruption == nullptr) {
        StatusCode = 0;
        Fail("no such file or folder on the volume: " + utf8Path);
        return false;
    }
    FailWithStatus();
    return false;
}
