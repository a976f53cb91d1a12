// The SCSI path as the program runs it on Windows: the system's LoadLibrary,
// events and completion from another thread, against the simulated manager
// (wnaspi32.dll beside this program) serving image files. Only the pauses are
// counted instead of slept, and a wait that would time out returns early.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/aspi.h"
#include "disk/discovery.h"
#include "disk/drive_table.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_state.h"
#include "support/mini_volume.h"
#include "support/recording_window.h"
#include "support/temp_image.h"
#include "support/translator_fixture.h"
#include "support/volume_walk.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint64_t g_pausedMs = 0;
std::vector<uint32_t> g_waits;

void CountPause(uint32_t ms) { g_pausedMs += ms; }
bool ShortWait(void* event, uint32_t ms)
{
    g_waits.push_back(ms);
    // Completions take a few milliseconds; a second means it never comes.
    return kSystemAspiCalls.WaitForEvent(event, 1000);
}

// The C runtime passes the change on to the process's environment, where the
// manager reads it.
void SetEnv(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

class WineAspi : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        SetWindowSystem(&ws);
        AspiSystem.Pause = CountPause;
        AspiSystem.WaitForEvent = ShortWait;
        g_pausedMs = 0;
        g_waits.clear();
        log = dir.PathOf("aspi.log");
        SetEnv("QUAYLINK_SIM_ASPI_LOG", log);
        SetEnv("QUAYLINK_SIM_ASPI_FAULTS", "");
        disk = dir.WriteFile("mini.img", mini.bytes);
        SetEnv("QUAYLINK_SIM_ASPI", "0:1:scanner:512:" + dir.WriteFile("scanner.img", Bytes(8192)) +
                                        ";0:2:disk:512:" + dir.WriteFile("blank.img", Bytes(65536)) +
                                        ";0:3:disk:512:" + disk + ";0:4:rdisk:512:" +
                                        ";0:5:cdrom:2048:" + dir.WriteFile("cd.iso", PatternBytes(40 * 2048)));
    }
    void TearDown() override
    {
        SetEnv("QUAYLINK_SIM_ASPI", "");
        EngineStateTest::TearDown();
    }
    // The manager's log lines since the last call.
    std::vector<std::string> Log()
    {
        std::vector<std::string> lines;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        in.close();
        std::remove(log.c_str());
        return lines;
    }
    TempDir dir;
    std::string log;
    std::string disk;
    MiniVolume mini = MakeMiniVolume();
    RecordingWindowSystem ws;
};

TEST_F(WineAspi, DiscoveryListsTheSimulatedDevices)
{
    Prefs.AddASPI = Prefs.AddBIOS = Prefs.AddCDROM = 1;
    Prefs.AddFloppy = 0;
    WindowsVersion = 0;
    DiscoverDrives();
    std::vector<std::string> names;
    for (uint32_t i = 0; i < DriveCount; ++i) names.push_back(DriveTable[i].Name);
    EXPECT_EQ(names, (std::vector<std::string>{"[WASPI-DISK 03] QUAYSIM Disk T", "[WASPI-DISK 04] QUAYSIM Disk T",
                                               "[WASPI-CDRM 05] QUAYSIM CD-ROM"}));
    EXPECT_EQ(HostAdapterCount, 1u);
    EXPECT_EQ(AspiReadCapacity(0, 5, nullptr), 2048u);
    uint32_t capacity = 0;
    EXPECT_EQ(AspiReadCapacity(0, 3, &capacity), 512u);
    EXPECT_EQ(capacity, MiniVolume::kBlocks);
    EXPECT_EQ(AspiReadCapacity(0, 4, &capacity), 0u);  // no medium
    // Every request completed through its event, none timed out.
    for (uint32_t ms : g_waits) EXPECT_EQ(ms, 10000u);
    EXPECT_EQ(g_pausedMs, 0u);
}

TEST_F(WineAspi, BrowseReadAndWriteAVolumeOnASimulatedDisk)
{
    Prefs.AddASPI = 1;
    DiscoverDrives();
    ASSERT_GE(DriveCount, 1u);
    std::map<std::string, Bytes> forks;
    WalkOptions options;
    options.onFork = [&](const std::string& path, uint8_t fork, const Bytes& bytes) {
        forks[path + (fork ? "/r" : "/d")] = bytes;
    };
    const WalkSummary walk = WalkSelectedDrive(options);
    ASSERT_TRUE(walk.Clean()) << walk.firstStatus;
    EXPECT_EQ(walk.files, mini.files);
    for (const MiniFork& f : mini.forks) EXPECT_EQ(forks[f.path + (f.fork ? "/r" : "/d")], f.bytes) << f.path;

    // A file written through WRITE(10), read back, and the volume still whole.
    SelectMacDrive(MainWindow);
    ASSERT_TRUE(OpenListedVolume(0)) << StatusCode;
    ASSERT_TRUE(WriteBlockers().empty()) << WriteBlockers()[0];
    const MacFileImage sent = SampleMacFile("Sent over SCSI", 40000, 3000, 7);
    ASSERT_TRUE(PutMacFile(sent));
    MacFileImage back;
    ASSERT_TRUE(ReadMacFile(MacPaneState.folderId, sent.name, &back));
    ExpectSameMacFile(back, sent, sent.name);
    std::vector<std::string> problems;
    EXPECT_EQ(CheckVolume(&problems), 0) << (problems.empty() ? "" : problems[0]);
    CloseMacDrive();
    // The image file itself changed.
    EXPECT_NE(ReadFileBytes(disk), mini.bytes);
}

TEST_F(WineAspi, RetryLoopAgainstTheManager)
{
    struct Case {
        const char* faults;
        int32_t result;
        const char* counts;  // the READ(10) counts sent, in order
        uint64_t pausedMs;
        bool aborted;
    };
    const Case cases[] = {
        {"toobig@1,toobig@2", 1, "64 32 1", 0, false},
        {"busy@1,busy@2,busy@3", 0, "64 64 64", 15000, false},
        {"errgood@1", 64, "64", 0, false},
        {"check@1,check@2,check@3", 0, "64 64 64", 0, false},
        {"hastat@1", 64, "64 64", 0, false},
        {"hang@1", 0, "64", 1000, true},
        {"maxblocks=16", 1, "64 32 1", 0, false},
    };
    for (const Case& c : cases) {
        SetEnv("QUAYLINK_SIM_ASPI_FAULTS", c.faults);
        ASSERT_EQ(AspiLoad(), 0) << c.faults;
        Log();
        g_pausedMs = 0;
        EXPECT_EQ(AspiRead10(0, 3, 0, 512, 64), c.result) << c.faults;
        std::string counts;
        bool aborted = false;
        for (const std::string& line : Log()) {
            const size_t at = line.find(" count=");
            if (line.rfind("exec 28", 0) == 0 && at != std::string::npos)
                counts += (counts.empty() ? "" : " ") + line.substr(at + 7);
            aborted = aborted || line.rfind("abort found=1", 0) == 0;
        }
        EXPECT_EQ(counts, c.counts) << c.faults;
        EXPECT_EQ(g_pausedMs, c.pausedMs) << c.faults;
        EXPECT_EQ(aborted, c.aborted) << c.faults;
    }
    // An empty target answers at once, and only once.
    SetEnv("QUAYLINK_SIM_ASPI_FAULTS", "");
    ASSERT_EQ(AspiLoad(), 0);
    Log();
    EXPECT_EQ(AspiInquiry(0, 6), -1);
    EXPECT_EQ(Log().size(), 2u);  // the request and its answer
    // A manager that is not ready, or has no adapters, is let go.
    SetEnv("QUAYLINK_SIM_ASPI_FAULTS", "notready");
    EXPECT_EQ(AspiLoad(), -3);
    SetEnv("QUAYLINK_SIM_ASPI", "");
    SetEnv("QUAYLINK_SIM_ASPI_FAULTS", "");
    EXPECT_EQ(AspiLoad(), -4);
    EXPECT_FALSE(AspiLoaded());
}

}  // namespace
