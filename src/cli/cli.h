// Shared pieces of the command-line program: arguments, the image and volume
// named by IMAGE[@N], text output in UTF-8, and failure reporting.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ui/mac_session.h"

enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitFailed = 2 };

struct CliArgs {
    std::vector<std::string> positional;
    std::vector<std::string> flags;           // "-R", "--rsrc", ...
    std::vector<std::pair<std::string, std::string>> options;  // "--sort" "name"

    bool Has(const char* flag) const;
    const std::string* Option(const char* name) const;
};

// Splits argv into positional words, flags and options; `valued` lists the
// options that take a value. "--" ends the options: every word after it is
// positional. False (with a message) on an unknown word.
bool ParseArgs(int argc, char** argv, int first, const std::vector<std::string>& knownFlags,
               const std::vector<std::string>& valued, CliArgs* out);

// Opens IMAGE[@N]: the drive, then volume N (1 when not given). Prints the
// failure and returns false; a bad @N (not a number, 0, beyond the volumes
// found) is a usage error. Without `listRoot` the root is the current folder
// unlisted (commands that only look names up).
bool OpenImageVolume(const std::string& imageSpec, bool writable, bool listRoot = true);
// Opens IMAGE as the drive only (volume list).
bool OpenImageOnly(const std::string& imageSpec, bool writable);

// Resolves a MACPATH given in UTF-8; prints a clear message when it does not
// exist. False on failure.
bool ResolveCliPath(const std::string& utf8Path, MacPathTarget* out, MacPathTarget* parent = nullptr);

// Failures. Each message goes to standard error with its control characters
// shown as '?'.
//
// FailWithStatus prints the status message of StatusCode verbatim, then
// ": " and `what` when given (the item and why: "Could not create
// file/folder: Notes: the name is taken"), clears StatusCode and returns
// kExitFailed. get and put call it for a file that failed.
int FailWithStatus(const std::string& what = {});
int Fail(const std::string& message);
// Prints the message and makes the command exit with kExitUsage whatever it
// returns afterwards.
int UsageError(const std::string& message);
bool UsageErrorSeen();

// Text. Mac text travels between the commands and the engine in the engine's
// string form: each Mac character through MacNameToPc, so PcNameToMac gives
// the exact Mac characters back. On the terminal it is UTF-8, converted
// straight from and to Mac OS Roman.
//
// A Mac argument (MACPATH, new name, type, creator, label) from UTF-8 to the
// engine's form; false when it is not UTF-8 or holds a character the Mac set
// lacks (`bad` gets it). main checks every Mac argument this way before a
// command runs.
bool MacTextFromUtf8(const std::string& utf8, std::string* engineText, char32_t* bad = nullptr);
// The same for an argument main has checked (anything else becomes '?').
std::string Utf8ToAnsi(const std::string& utf8);
// Mac text in the engine's form as UTF-8 for a terminal; MacTextExact keeps
// control characters (for --json).
std::string MacTextShown(const std::string& engineText);
std::string MacTextExact(const std::string& engineText);
// A length-prefixed Mac name (at most 31 characters used), shown / exact.
std::string MacNameUtf8(const uint8_t* macName);
std::string MacNameExact(const uint8_t* macName);
// A PC name (Windows-1252) as UTF-8 for a terminal.
std::string AnsiToUtf8(const std::string& text);
// UTF-8 with C0 and C1 controls and DEL shown as '?'.
std::string ShownText(const std::string& utf8);
// Prints Mac text in the engine's form to standard output as UTF-8, control
// characters as '?' (a final newline is kept).
void PrintAnsi(const std::string& text);

int CommandVolumes(const CliArgs& args);
int CommandLs(const CliArgs& args);
int CommandCat(const CliArgs& args);
int CommandInfo(const CliArgs& args);
int CommandCheck(const CliArgs& args);
int CommandMkdir(const CliArgs& args);
int CommandRm(const CliArgs& args);
int CommandRename(const CliArgs& args);
int CommandSettype(const CliArgs& args);
int CommandFormat(const CliArgs& args);
int CommandGet(const CliArgs& args);
int CommandPut(const CliArgs& args);
