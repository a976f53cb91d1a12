// Walking everything on a Mac drive through the engine: every listed volume,
// every folder (recursively) and both forks of every file, read in full. The
// walk goes through the same calls as the Mac pane and the copy commands, so
// it is how damage, fault and speed tests drive the whole read side.
//
//   WalkSummary s = WalkVolume(path.c_str());
//   EXPECT_EQ(s.firstStatus, 0u);
//   EXPECT_EQ(s.files, 5u);
//
// The walk is bounded whatever the medium holds: folders deeper than
// maxDepth are not entered, a folder ID is entered once, and each fork read
// advances by at least one block or stops.
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
    // List invisible files too (HideInvisible is 0 for the walk's length).
    bool showInvisible = true;
    unsigned maxDepth = 64;
    // After listing a folder below the root, go up one level the way the
    // pane's path box does (through the folder's thread record).
    bool climb = false;
    // For WalkVolume: how the image is opened.
    uint32_t sectorSize = 512;
    bool writable = false;
    // Called for both forks of every file read in full. `path` is the file's
    // path from the volume's root in PC characters ("Folder:File"); fork is 0
    // (data) or 0xFF (resource).
    std::function<void(const std::string& path, uint8_t fork, const std::vector<uint8_t>& bytes)> onFork;
    // Called for every folder listed, with its path ("" for the root) and its
    // entries' names in list order.
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
    // Breaches of the engine's contracts seen by the walk (a read that
    // returns nothing without a status, more blocks than asked ...).
    std::vector<std::string> anomalies;

    bool Clean() const { return firstStatus == 0 && anomalies.empty(); }
};

// Opens the image at `imagePath` as the only drive, walks every volume on
// it, and closes the drive again (StatusCode is left as the walk left it).
WalkSummary WalkVolume(const char* imagePath, const WalkOptions& options = {});

// Walks the drive already in use (DriveTable[MacDriveIndex]): selects it,
// which scans its volumes, then walks each. The last volume stays open, and
// StatusCode holds the failure met unless the options clear it.
WalkSummary WalkSelectedDrive(const WalkOptions& options = {});
