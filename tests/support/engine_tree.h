// What our engine sees on the open volume: every folder listed by the
// engine's tree walker (in the pane's order), and a file's forks read through
// the catalog and the fork reader, for comparison with the peer tools and
// with recorded listings.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ui/mac_session.h"

struct EngineEntry {
    std::string name;            // Mac characters
    bool folder = false;
    uint32_t id = 0;
    uint32_t valence = 0;        // folders
    std::string type;            // files: four Mac characters
    std::string creator;
    uint16_t finderFlags = 0;    // files
    uint32_t dataLength = 0;
    uint32_t rsrcLength = 0;
    uint32_t date = 0;           // the pane's packed date
};

struct EngineFolder {
    uint32_t id = 0;
    std::vector<EngineEntry> items;  // in the pane's order
};

// Folders by path: ":" for the root, ":A:B" below it (Mac characters).
using EngineTree = std::map<std::string, EngineFolder>;

// The target of the open volume's root folder.
bool EngineRootTarget(MacPathTarget* out);
// Lists `folder` into `out`.
bool ListEngineFolder(const MacPathTarget& folder, EngineFolder* out);
// Lists every folder of the open volume, depth first. False with StatusCode
// set when a listing fails or the tree loops; false when it holds more than
// `limit` folders.
bool ListEngineTree(EngineTree* out, unsigned limit = 100000);
// Reads one fork of the file (parentId, name) through LookupFile and
// ReadForkBlocks. False with StatusCode set on failure.
bool ReadEngineFork(uint32_t parentId, const std::string& name, uint8_t fork, std::vector<uint8_t>* out);
// A Mac name for a test message: bytes outside printable ASCII as \xNN.
std::string Printable(const std::string& macName);
// Joins a folder path and a name: (":", "A") -> ":A"; (":A", "B") -> ":A:B".
std::string JoinMacPath(const std::string& folder, const std::string& name);
