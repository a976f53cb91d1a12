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
// options that take a value. False (with a message) on an unknown word.
bool ParseArgs(int argc, char** argv, int first, const std::vector<std::string>& knownFlags,
               const std::vector<std::string>& valued, CliArgs* out);

// Opens IMAGE[@N]: the drive, then volume N (1 when not given). Prints the
// failure and returns false. Without `listRoot` the root is the current
// folder unlisted (commands that only look names up).
bool OpenImageVolume(const std::string& imageSpec, bool writable, bool listRoot = true);
// Opens IMAGE as the drive only (volume list).
bool OpenImageOnly(const std::string& imageSpec, bool writable);

// Resolves a MACPATH given in UTF-8; prints a clear message when it does not
// exist. False on failure.
bool ResolveCliPath(const std::string& utf8Path, MacPathTarget* out, MacPathTarget* parent = nullptr);

// Prints the status message of StatusCode to standard error and clears it.
int FailWithStatus();
int Fail(const std::string& message);
int UsageError(const std::string& message);

// Writes Windows-1252 text to standard output as UTF-8.
void PrintAnsi(const std::string& text);
std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);
std::string MacNameUtf8(const uint8_t* macName);

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
