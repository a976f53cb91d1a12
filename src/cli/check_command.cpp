// quaylink-cli check: the consistency check of one volume. The image is
// opened read-only; nothing is ever written to it. A clean result is
// remembered, so that the next command writing to the image need not check
// it again.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/main_state.h"
#include "disk/check_memory.h"
#include "disk/image_drive.h"
#include "hfs/volume_check.h"

namespace {

// IMAGE[@N] with the volume number always shown.
std::string VolumeSpecText(const std::string& imageArg)
{
    const size_t at = imageArg.rfind('@');
    if (at != std::string::npos && at + 1 < imageArg.size() &&
        imageArg.find_first_not_of("0123456789", at + 1) == std::string::npos)
        return imageArg;
    return imageArg + "@1";
}

}  // namespace

int CommandCheck(const CliArgs& args)
{
    if (args.positional.size() != 1) return UsageError("check takes IMAGE[@N]");
    const std::string& imageArg = args.positional[0];
    // A catalog too damaged to list the root still gets checked: the open
    // has printed why the listing failed, and the check says what is wrong.
    if (!OpenImageVolume(imageArg, false) && !VolumeIsOpen()) return kExitFailed;

    if (const char* warning = DriveImageWarning(&DriveTable[MacDriveIndex]))
        std::printf("Image warning: %s\n", warning);  // the image file's, not the volume's
    std::vector<std::string> problems;
    const int count = CheckVolume(&problems);
    for (const std::string& problem : problems) PrintAnsi(problem + "\n");
    if (count > 0) {
        std::fprintf(stderr, "quaylink-cli: %s: %d problem%s found\n", imageArg.c_str(), count, count == 1 ? "" : "s");
        return kExitFailed;
    }
    RememberCleanCheck(&DriveTable[MacDriveIndex], MacVolume.partitionStart);
    const uint8_t* mdb = MacVolume.mdb->data;
    const std::string line = VolumeSpecText(imageArg) + ": volume " +
                       MacNameUtf8(mdb + kMdbVolumeName) + " is consistent: " +
                       std::to_string(GetU32(mdb + kMdbFileCount)) + " files, " +
                       std::to_string(GetU32(mdb + kMdbFolderCount)) + " folders, " +
                       std::to_string(GetU16(mdb + kMdbFreeBlocks)) + " of " +
                       std::to_string(GetU16(mdb + kMdbAllocBlocks)) + " allocation blocks free\n";
    std::fputs(line.c_str(), stdout);
    return kExitOk;
}
