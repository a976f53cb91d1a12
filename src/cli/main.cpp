// quaylink-cli: the engine's commands for scripts and for systems without
// the desktop program.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "cli/cli_window.h"
#include "core/prefs.h"
#include "core/window_system.h"
#include "disk/image_drive.h"
#include "ui/program_state.h"

namespace {

constexpr const char* kUsage =
    "usage: quaylink-cli COMMAND ARGUMENTS... [OPTIONS] [--] [ARGUMENTS...]\n"
    "  volumes IMAGE [--json]                 the HFS volumes: index, start block, size in blocks, name\n"
    "  ls      IMAGE[@N] [MACPATH] [-R] [-a] [--sort name|type|creator|size|date] [--json]\n"
    "                                         a folder's items: name, type, creator, data and resource\n"
    "                                         fork sizes, date modified (YYYY-MM-DD HH:MM, local time)\n"
    "  cat     IMAGE[@N] MACPATH [--rsrc]     write one fork to standard output\n"
    "  info    IMAGE[@N] [MACPATH] [--json]   volume or item information\n"
    "  check   IMAGE[@N]                      consistency check; lists every problem found\n"
    "  mkdir   IMAGE[@N] MACPATH              create a folder\n"
    "  rm      IMAGE[@N] MACPATH... [-r] [-q] delete files, and folders with everything in them\n"
    "                                         with -r (progress on a terminal, -q silences it;\n"
    "                                         Ctrl-C stops after the current item, exit status 2)\n"
    "  rename  IMAGE[@N] MACPATH NEWNAME      rename a file or folder\n"
    "  settype IMAGE[@N] MACPATH TYPE CREATOR set a file's type and creator (four characters each)\n"
    "  format  IMAGE LABEL                    write an empty 1.44 MB volume (creates IMAGE if missing)\n"
    "  get     IMAGE[@N] MACPATH... [-r] [-o DIR] [--as data|text|resource|macbinary|binhex]\n"
    "          [--type T] [--creator C] [--ext E] [--rename|--skip|--overwrite] [-q]\n"
    "                                         copy files (folders with -r) to the PC through a\n"
    "                                         translator; --type/--creator/--ext copy only the\n"
    "                                         files that match\n"
    "  put     IMAGE[@N] FILE... [-r] [--to MACPATH] [--as ...] [--type T] [--creator C]\n"
    "          [--ext E] [--rename|--skip|--overwrite] [-q]\n"
    "                                         copy regular files (directories with -r) to the\n"
    "                                         volume through a translator; --ext copies only\n"
    "                                         the files with that extension\n"
    "          [--name NAME]                  FILE - reads standard input; with data, text and\n"
    "                                         resource, --name gives the file's Mac name\n"
    "A name already taken stops get and put (nothing is copied) unless --rename, --skip or\n"
    "--overwrite says what to do; --rename numbers PC names (NAME0.EXT ... NAMEZ.EXT) and\n"
    "Mac names (\"NAME 1.ext\" ...). Two sources that would get one name clash the same way,\n"
    "and --overwrite never replaces a file the same command wrote. The names inside BinHex\n"
    "files are checked as each file is put.\n"
    "With -r, folders are copied whole (links and special files inside are skipped); on a\n"
    "terminal a progress line shows on standard error (-q silences it), and Ctrl-C cancels:\n"
    "the copy stops after what was finished, no partial file is left, and the exit status is 2.\n"
    "IMAGE@N picks volume N (from 1); MACPATH is colon-separated from the volume's root.\n"
    "Names are UTF-8 on the command line and Mac OS Roman on the volume; a character the Mac\n"
    "set lacks is a usage error. Control characters in names are shown as '?' (--json keeps\n"
    "them, escaped). -- ends the options, for names that begin with -.\n"
    "--json: dates are ISO 8601 local time with the offset from UTC, or null for none; type\n"
    "and creator are four characters, or hex (\"0x3F000001\") when one is a control character.\n"
    "Exit status: 0 success, 1 usage error, 2 the operation failed (including a failed write\n"
    "to standard output).\n";

constexpr size_t kNoMacArguments = ~size_t{0};

struct Command {
    const char* name;
    int (*run)(const CliArgs&);
    std::vector<std::string> flags;
    std::vector<std::string> valued;
    size_t macFrom;                       // the positional words from here on are Mac text
    std::vector<std::string> macOptions;  // options whose values are Mac text
};

// Every Mac argument must have a Mac OS Roman form: checked before the
// command runs, so that no "?" ever stands in for a character.
bool CheckMacArguments(const Command& command, const CliArgs& args)
{
    std::vector<std::string> texts;
    for (size_t i = command.macFrom; i < args.positional.size(); ++i) texts.push_back(args.positional[i]);
    for (const std::string& option : command.macOptions)
        if (const std::string* value = args.Option(option.c_str())) texts.push_back(*value);
    for (const std::string& text : texts) {
        std::string engineText;
        char32_t bad = 0;
        if (MacTextFromUtf8(text, &engineText, &bad)) continue;
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(bad));
        UsageError(bad == 0xFFFD ? "\"" + text + "\" is not UTF-8"
                                 : "\"" + text + "\": the Mac character set has no " + std::string(code));
        return false;
    }
    return true;
}

// A failed write to standard output (a full disk, a closed pipe) fails the
// command: the output is incomplete.
int FinishOutput(int status)
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    const int error = errno;
    Fail(std::string("could not write to standard output") + (error ? std::string(": ") + std::strerror(error) : ""));
    return status == kExitOk ? kExitFailed : status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : FinishOutput(kExitOk);
    }
#ifdef SIGPIPE
    // A reader that went away is a failed write, reported like any other.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    // A write past the file-size limit then fails like any other (EFBIG) and
    // the partial file is removed, instead of the signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    ResetProgramState();
    // Questions are answered Yes (for the missing backup MDB: open read
    // only); any message the engine shows goes to standard error.
    static CliWindow windowSystem;
    SetWindowSystem(&windowSystem);
    Prefs.MaxIOBufSzK = 64;  // the preference's default: 32 KB transfers
    SetTransferLimit();

    const Command commands[] = {
        {"volumes", CommandVolumes, {"--json"}, {}, kNoMacArguments, {}},
        {"ls", CommandLs, {"-R", "-a", "--json"}, {"--sort"}, 1, {}},
        {"cat", CommandCat, {"--rsrc"}, {}, 1, {}},
        {"info", CommandInfo, {"--json"}, {}, 1, {}},
        {"check", CommandCheck, {}, {}, kNoMacArguments, {}},
        {"mkdir", CommandMkdir, {}, {}, 1, {}},
        {"rm", CommandRm, {"-r", "-q"}, {}, 1, {}},
        {"rename", CommandRename, {}, {}, 1, {}},
        {"settype", CommandSettype, {}, {}, 1, {}},
        {"format", CommandFormat, {}, {}, 1, {}},
        {"get", CommandGet, {"--rename", "--skip", "--overwrite", "-r", "-q"},
         {"-o", "--as", "--type", "--creator", "--ext"}, 1, {"--type", "--creator"}},
        {"put", CommandPut, {"--rename", "--skip", "--overwrite", "-r", "-q"},
         {"--to", "--as", "--type", "--creator", "--name", "--ext"}, kNoMacArguments,
         {"--to", "--type", "--creator", "--name"}},
    };
    for (const Command& command : commands) {
        if (std::strcmp(argv[1], command.name) != 0) continue;
        CliArgs args;
        if (!ParseArgs(argc, argv, 2, command.flags, command.valued, &args) || !CheckMacArguments(command, args))
            return kExitUsage;
        int status = command.run(args);
        if (UsageErrorSeen()) status = kExitUsage;
        status = FinishOutput(status);
        CloseMacDrive();
        CloseAllImages();
        return status;
    }
    return UsageError(std::string("unknown command ") + argv[1]);
}
