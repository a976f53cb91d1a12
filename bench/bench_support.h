// Small helpers the benchmarks share.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

// Runs `command` through the shell; throws when it fails.
void Shell(const std::string& command);
// Writes `bytes` as the whole file at `path`; throws when it cannot.
void WriteFile(const std::filesystem::path& path, const std::vector<char>& bytes);
