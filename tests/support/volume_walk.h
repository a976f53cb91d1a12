// Walks everything on a Mac drive through the calls the pane and the copy
// commands make: every volume, every folder, both forks of every file. It is
// bounded whatever the medium holds: folders deeper than maxDepth are not
// entered, a folder ID is entered once, each fork read advances or stops.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the walk does after a failure.
enum class WalkFailure {
    Stop,       // stop at once and leave StatusCode as the engine set it
    CarryOn,    // leave StatusCode set and go on through the remaining items, as the
                // rest of a failing command does (each call should fail at once
                // without touching the medium); ends before another volume
    ClearAndGoOn,  // note the status, clear it and go on with the next item
};

struct WalkOptions {
    WalkFailure onFailure = WalkFailure::Stop;
    bool showInvisible = true;  // invisible files are listed too
    unsigned maxDepth = 64;
    bool climb = false;         // after listing a folder, go up one level as the pane's path box does
    uint32_t sectorSize = 512;  // WalkVolume: how the image is opened
    bool writable = false;
    // Both forks of every file read in full; `path` in PC characters ("Folder:File").
    std::function<void(const std::string& path, uint8_t fork, const std::vector<uint8_t>& bytes)> onFork;
    // Every folder listed ("" for the root), with its entries' names in list order.
    std::function<void(const std::string& path, const std::vector<std::string>& names)> onFolder;
};

struct WalkSummary {
    bool driveOpened = false;    // the image became the Mac drive and its scan ended without failure
    unsigned volumes = 0;        // volumes the first scan listed
    unsigned volumesOpened = 0;  // volumes opened and their root listed
    unsigned folders = 0;        // folders listed
    unsigned files = 0;          // files whose two forks were read in full
    unsigned foldersNotEntered = 0;  // deeper than maxDepth, or an ID already entered
    unsigned climbs = 0;         // levels gone up (climb)
    unsigned climbsAstray = 0;   // of which did not land in the folder the item was listed in
    uint64_t bytes = 0;          // fork bytes read
    uint32_t firstStatus = 0;    // the first StatusCode met (0: none)
    std::vector<uint32_t> statuses;  // every failure met, in order (several only with ClearAndGoOn)
    uint64_t digest = 0;         // over volume names, paths, kinds and fork bytes, in walk order
    uint32_t deviceReads = 0;    // the image's device reads and writes during the walk
    uint32_t deviceWrites = 0;
    // Breaches of the engine's contracts (a read that returns nothing without a status ...).
    std::vector<std::string> anomalies;

    bool Clean() const { return firstStatus == 0 && anomalies.empty(); }
};

// Opens the image as the only drive, walks it and closes it (StatusCode is left as the walk left it).
WalkSummary WalkVolume(const char* imagePath, const WalkOptions& options = {});
// Selects the drive in use and walks it; the last volume stays open.
WalkSummary WalkSelectedDrive(const WalkOptions& options = {});
