// quaylink-cli: the engine's commands for scripts and for systems without
// the desktop program.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "disk/image_drive.h"
#include "ui/prefs.h"
#include "ui/window_system.h"

namespace {

// Questions are answered Yes (for the missing backup MDB: open read only);
// any message the engine shows goes to standard error.
class CliWindowSystem : public HeadlessWindowSystem {
public:
    int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) override
    {
        std::fprintf(stderr, "%s%s%s%s\n", caption ? caption : "", caption ? ": " : "", text,
                     (style & kMbYesNo) ? " Yes" : "");
        return HeadlessWindowSystem::ShowMessage(owner, text, caption, style);
    }
};

constexpr const char* kUsage =
    "usage: quaylink-cli COMMAND ...\n"
    "  volumes IMAGE                          list the HFS volumes of an image or device\n"
    "  ls      IMAGE[@N] [MACPATH] [-R] [-a] [--sort name|type|creator|size|date]\n"
    "  cat     IMAGE[@N] MACPATH [--rsrc]     write one fork to standard output\n"
    "  info    IMAGE[@N] [MACPATH]            volume or item information\n"
    "  check   IMAGE[@N]                      consistency check; lists every problem found\n"
    "  mkdir   IMAGE[@N] MACPATH              create a folder\n"
    "  rm      IMAGE[@N] MACPATH... [-r]      delete files, and folders with -r\n"
    "  rename  IMAGE[@N] MACPATH NEWNAME      rename a file or folder\n"
    "  settype IMAGE[@N] MACPATH TYPE CREATOR set a file's type and creator\n"
    "  format  IMAGE LABEL                    write an empty 1.44 MB volume (creates IMAGE if missing)\n"
    "  get     IMAGE[@N] MACPATH... [-o DIR] [--as data|text|resource|macbinary|binhex]\n"
    "          [--rename|--skip|--overwrite]  copy files to the PC through a translator\n"
    "  put     IMAGE[@N] FILE... [--to MACPATH] [--as ...] [--type T] [--creator C]\n"
    "          [--rename|--skip|--overwrite]  copy files to the volume through a translator\n"
    "A name already taken stops get and put (nothing is copied) unless --rename, --skip or\n"
    "--overwrite says what to do; --rename numbers PC names (NAME0.EXT ... NAMEZ.EXT) and\n"
    "Mac names (\"NAME 1.ext\" ...).\n"
    "IMAGE@N picks volume N (from 1); MACPATH is colon-separated from the volume's root.\n"
    "Exit status: 0 success, 1 usage error, 2 the operation failed.\n";

struct Command {
    const char* name;
    int (*run)(const CliArgs&);
    std::vector<std::string> flags;
    std::vector<std::string> valued;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : kExitOk;
    }
#ifdef SIGXFSZ
    // A write past the file-size limit then fails like any other (EFBIG) and
    // the partial file is removed, instead of the signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    static CliWindowSystem windowSystem;
    SetWindowSystem(&windowSystem);
    Prefs = PrefsRecord{};
    Prefs.HideInvisible = 1;
    Prefs.KeepDate = 1;
    Prefs.MaxIOBufSzK = 64;  // the preference's default: 32 KB transfers
    SetTransferLimit();

    const Command commands[] = {
        {"volumes", CommandVolumes, {}, {}},
        {"ls", CommandLs, {"-R", "-a"}, {"--sort"}},
        {"cat", CommandCat, {"--rsrc"}, {}},
        {"info", CommandInfo, {}, {}},
        {"check", CommandCheck, {}, {}},
        {"mkdir", CommandMkdir, {}, {}},
        {"rm", CommandRm, {"-r"}, {}},
        {"rename", CommandRename, {}, {}},
        {"settype", CommandSettype, {}, {}},
        {"format", CommandFormat, {}, {}},
        {"get", CommandGet, {"--rename", "--skip", "--overwrite"}, {"-o", "--as"}},
        {"put", CommandPut, {"--rename", "--skip", "--overwrite"}, {"--to", "--as", "--type", "--creator"}},
    };
    for (const Command& command : commands) {
        if (std::strcmp(argv[1], command.name) != 0) continue;
        CliArgs args;
        if (!ParseArgs(argc, argv, 2, command.flags, command.valued, &args)) return kExitUsage;
        const int status = command.run(args);
        std::fflush(stdout);
        CloseMacDrive();
        CloseAllImages();
        return status;
    }
    return UsageError(std::string("unknown command ") + argv[1]);
}
