// quaylink-cli format IMAGE LABEL: the empty 1.44 MB volume on an image file,
// through the same format operation the desktop program runs on a drive.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "core/status.h"
#include "core/window_system.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/format.h"
#include "platform/platform.h"

namespace {

// The command line itself is the user's go-ahead, so the warning before
// erasing is answered OK without a word; other messages (the format's own
// failure report) go to standard error.
class FormatWindowSystem : public HeadlessWindowSystem {
public:
    bool Confirm(WindowHandle, const char*, const char*) override { return true; }
    int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) override
    {
        std::fprintf(stderr, "%s%s%s\n", caption ? caption : "", caption ? ": " : "", text);
        ++failures;
        return HeadlessWindowSystem::ShowMessage(owner, text, caption, style);
    }
    int failures = 0;
};

}  // namespace

int CommandFormat(const CliArgs& args)
{
    if (args.positional.size() != 2) return UsageError("format needs IMAGE and LABEL");
    const std::string& path = args.positional[0];
    const std::string label = Utf8ToAnsi(args.positional[1]);

    if (label.empty() || label.size() > kMaxVolumeName) {
        Fail("a volume label has 1 to " + std::to_string(kMaxVolumeName) + " characters");
        StatusCode = kStatusCannotCreate;
        return FailWithStatus();
    }
    if (!SetVolumeLabel(label.c_str())) {
        Fail("a volume label cannot hold a colon");
        return FailWithStatus();
    }

    const bool created = !FileExists(path.c_str());
    if (created && !CreateDisketteImage(path.c_str())) return Fail("cannot create " + path);

    const int slot = OpenImage(path.c_str(), kBlockSize, true);
    if (slot == kImageInUse) return Fail("the image is in use by another program: " + path);
    if (slot < 0) return Fail("cannot open " + path);
    DriveCount = 0;
    DriveEntry* entry = AddImageDrive(slot);
    if (entry == nullptr) {
        CloseImage(slot);
        return Fail("cannot open " + path);
    }

    // The checks the desktop program makes before it formats a drive.
    if ((entry->Flags & kDriveReadOnly) != 0 || entry->WriteSectors == nullptr) {
        StatusCode = kStatusReadOnly;
    } else if (entry->FormatVolume == nullptr) {
        Fail(path + " is not the size of a 1.44 MB diskette image (" + std::to_string(kDisketteBytes) +
             " bytes); only such an image can be formatted");
        StatusCode = kStatusNotSupported;
    }
    if (StatusCode != 0) {
        CloseImage(slot);
        DriveCount = 0;
        return FailWithStatus();
    }

    FormatWindowSystem windowSystem;
    WindowSystem* previous = &Ws();
    SetWindowSystem(&windowSystem);
    const int32_t result = entry->FormatVolume(entry);
    SetWindowSystem(previous);
    CloseImage(slot);
    DriveCount = 0;
    if (result != 0 || windowSystem.failures != 0) return kExitFailed;

    if (created) PrintAnsi("created " + Utf8ToAnsi(path) + "\n");
    PrintAnsi("formatted " + Utf8ToAnsi(path) + " as \"" + label + "\"\n");
    return kExitOk;
}
