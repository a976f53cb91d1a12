// Running another program from a test and capturing what it says. Arguments
// go to the program as they are (no shell), so names with spaces and bytes
// above 0x7F reach it unchanged.
#pragma once
#include <string>
#include <utility>
#include <vector>

struct CommandResult {
    int exitCode = -1;       // the exit status; 128 + signal when killed; -1 when it could not start
    std::string out;         // standard output (empty when sent to a file)
    std::string err;
};

struct CommandOptions {
    std::vector<std::pair<std::string, std::string>> env;  // set (or replaced) in the child
    std::string input;                                      // written to standard input
    std::string outFile;                                    // when set, standard output goes to this file
};

// Runs argv[0] (looked up in PATH) with the arguments.
CommandResult RunCommand(const std::vector<std::string>& argv, const CommandOptions& options = {});
CommandResult RunShell(const std::string& script, const CommandOptions& options = {});
bool ProgramAvailable(const std::string& program);
