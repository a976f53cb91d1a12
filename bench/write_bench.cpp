// Write-side speed on a 100 MB volume made by hformat: files created,
// renamed and deleted in one folder as it holds about 1,000 and about 5,000
// entries, the folder listed, the whole run of 5,000 creates, renames and
// deletes, and a 50 MB file written and deleted. Every engine operation is
// one command as the desktop program runs it: the change, then FlushVolume.
// Beside each figure, hfsutils doing the same work on a copy of the same
// volume, one process per operation (hcopy -r, hrename, hdel, hls): those
// figures include starting the process and mounting the volume each time,
// which BM_ProcessStart shows on its own.
//
// Run it from a Release build, in a build directory of your own:
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target quaylink_bench
//   build-bench/bench/quaylink_bench --benchmark_filter='BM_(Write|Hfsutils(Create|Rename|Delete|List|Big)|Process)'
//
// Per-operation costs are in the counters: *_us is microseconds of wall
// clock per operation, *_cpu_us processor time (the process's and its
// children's, so hfsutils' own work counts too). Needs hformat, hmount,
// hcopy, hrename, hdel and hls.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/status.h"
#include "disk/drive_table.h"
#include "hfs/btree_search.h"
#include "hfs/cache.h"
#include "hfs/catalog_ops.h"
#include "hfs/fork_io.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "ui/mac_session.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kVolumeBytes = 100ull * 1024 * 1024;
constexpr unsigned kTimedOps = 200;          // operations timed around each folder size
constexpr unsigned kRunFiles = 5000;         // the whole run
constexpr uint32_t kBigBytes = 50u * 1024 * 1024;
const char kSmallContents[] = "a small file's contents\n";

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Processor time of this process and of its finished children, in seconds:
// on a busy machine it says more than the wall clock about the work itself.
double CpuSeconds()
{
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto sum = [](const rusage& u) {
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    return sum(self) + sum(children);
}

// The cost of `ops` operations: microseconds per operation, wall clock and
// processor time.
struct Cost {
    double wall = 0;
    double cpu = 0;
};

template <typename Body>
Cost Measure(unsigned ops, Body body)
{
    const auto wall = Clock::now();
    const double cpu = CpuSeconds();
    body();
    return Cost{Seconds(wall) * 1e6 / ops, (CpuSeconds() - cpu) * 1e6 / ops};
}

// ---- processes -------------------------------------------------------------------

// Runs a program with HOME set (hmount keeps its state there), its output
// thrown away; the exit status.
int RunProgram(const std::vector<std::string>& argv, const std::string& home)
{
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings{"HOME=" + home, "TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin"};
    std::vector<char*> env;
    for (std::string& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void Must(int status, const std::string& what)
{
    if (status != 0) throw std::runtime_error(what + " failed (" + std::to_string(status) + ")");
}

// ---- the volume ------------------------------------------------------------------

// A scratch directory with an empty 100 MB volume, a HOME for hfsutils and
// the PC files hcopy takes.
struct BenchDir {
    fs::path dir;
    std::string empty;       // the freshly formatted volume, never written to
    std::string home;
    std::string small;       // the contents of every small file, as a PC file
    std::string big;         // 50 MB, as a PC file
    std::vector<uint8_t> bigBytes;

    BenchDir()
    {
        dir = fs::temp_directory_path() /
              ("quaylink-write-bench-" + std::to_string(getpid()) + "-" +
               std::to_string(Clock::now().time_since_epoch().count()));
        fs::create_directories(dir / "home");
        home = (dir / "home").string();
        empty = (dir / "empty.img").string();
        {
            std::ofstream out(empty, std::ios::binary | std::ios::trunc);
            out.seekp(static_cast<std::streamoff>(kVolumeBytes - 1));
            out.put(0);
        }
        Must(RunProgram({"hformat", "-l", "Bench", empty}, home), "hformat");
        Must(RunProgram({"humount"}, home), "humount");
        small = (dir / "small.txt").string();
        std::ofstream(small, std::ios::binary) << kSmallContents;
        bigBytes.resize(kBigBytes);
        uint32_t x = 12345;
        for (uint8_t& b : bigBytes) {
            x = x * 1103515245u + 12345u;
            b = static_cast<uint8_t>(x >> 24);
        }
        big = (dir / "big.bin").string();
        std::ofstream(big, std::ios::binary)
            .write(reinterpret_cast<const char*>(bigBytes.data()), static_cast<std::streamsize>(bigBytes.size()));
    }
    ~BenchDir()
    {
        std::error_code error;
        fs::remove_all(dir, error);
    }
    std::string Copy(const std::string& from, const std::string& name) const
    {
        const std::string to = (dir / name).string();
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        return to;
    }
};

BenchDir& Dir()
{
    static BenchDir d;
    return d;
}

// ---- engine commands ----------------------------------------------------------------

struct MacName {
    uint8_t bytes[32] = {};
    explicit MacName(const std::string& s)
    {
        bytes[0] = static_cast<uint8_t>(std::min<size_t>(s.size(), 31));
        std::memcpy(bytes + 1, s.data(), bytes[0]);
    }
};

// The names of the files: numbers in a shuffled order, so that creates land
// all over the folder's key range rather than at its end.
std::vector<std::string> FileNames(unsigned count, uint32_t seed)
{
    std::vector<std::string> names;
    for (unsigned i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "File %05u", i);
        names.push_back(name);
    }
    std::shuffle(names.begin(), names.end(), std::mt19937(seed));
    return names;
}

void Open(const std::string& image)
{
    StatusCode = 0;
    if (!OpenImageAsMacDrive(image.c_str(), true) || !OpenListedVolume(0))
        throw std::runtime_error("cannot open " + image + ": status " + std::to_string(StatusCode));
}

// Time spent in FlushVolume, to tell the change from its write-back.
double g_flushSeconds = 0;

void EndCommand(const char* what)
{
    const auto t = Clock::now();
    if (StatusCode == 0) FlushVolume();
    g_flushSeconds += Seconds(t);
    if (StatusCode != 0) throw std::runtime_error(std::string(what) + " failed: status " + std::to_string(StatusCode));
}

// The folder the operations work in.
MacFolder g_folder{};

MacPathTarget EnterFolder(const char* path)
{
    MacPathTarget folder{};
    if (!ResolveMacPath(path, &folder)) throw std::runtime_error(std::string("no folder ") + path);
    g_folder = MacFolder{folder.parentId, {}, folder.id};
    std::memcpy(g_folder.name, folder.name, sizeof g_folder.name);
    return folder;
}

// A file with its data fork written from `data`, in stream buffers of the
// transfer limit, and flushed: what a copy to the Mac does for one file.
void CreateFile(const std::string& name, const uint8_t* data, uint32_t size)
{
    FileCreateRequest request{};
    const MacName mac(name);
    std::memcpy(request.name, mac.bytes, sizeof request.name);
    std::memcpy(request.finderInfo, "TEXTttxt", 8);
    CreateFileIn(g_folder, &request);
    ForkRef ref{};
    if (StatusCode == 0 && FindFileRecord(g_folder.id, mac.bytes, &ref) == Lookup::Found) {
        PinBlock(ref.recordBuffer);
        std::vector<uint8_t> buffer(MaxTransferBytes);
        uint32_t position = 0;
        while (position < size && StatusCode == 0) {
            const uint32_t n = std::min<uint32_t>(size - position, MaxTransferBytes);
            std::memcpy(buffer.data(), data + position, n);
            WriteForkBuffer(&ref, kDataFork, &position, buffer.data(), n);
        }
        UnpinBlock(ref.recordBuffer);
    }
    EndCommand("create");
}

void CreateSmallFile(const std::string& name)
{
    CreateFile(name, reinterpret_cast<const uint8_t*>(kSmallContents), sizeof kSmallContents - 1);
}

void RenameFile(const std::string& from, const std::string& to)
{
    if (RenameItemIn(g_folder, MacName(from).bytes, MacName(to).bytes) == Lookup::Missing) StatusCode = kStatusBadNode;
    EndCommand("rename");
}

void DeleteFile(const std::string& name)
{
    if (DeleteFileIn(g_folder, MacName(name).bytes) == Lookup::Missing) StatusCode = kStatusBadNode;
    EndCommand("delete");
}

// An image whose folder :Files holds `entries` small files, made by the
// engine; the names not used yet follow in `rest`.
std::string FolderOf(unsigned entries, std::vector<std::string>* rest)
{
    const std::string image = Dir().Copy(Dir().empty, "folder-" + std::to_string(entries) + ".img");
    Open(image);
    EnterFolder(":");
    CreateFolderIn(g_folder, MacName("Files").bytes);
    EndCommand("mkdir");
    EnterFolder(":Files");
    std::vector<std::string> names = FileNames(entries + 2 * kTimedOps, 7);
    for (unsigned i = 0; i < entries; ++i) CreateSmallFile(names[i]);
    CloseMacDrive();
    rest->assign(names.begin() + entries, names.end());
    return image;
}

// What one folder size costs: `kTimedOps` creates, renames and deletes
// around `entries` entries, and a listing.
struct FolderFigures {
    Cost create, rename, remove, list;
    double createFlush = 0, renameFlush = 0, removeFlush = 0;  // FlushVolume's share (engine only)
    Cost emptyFlush;             // a flush with nothing changed but the MDB's date (engine only)
    unsigned cachedBlocks = 0;   // blocks in the cache at the end (engine only)
};

FolderFigures EngineAround(unsigned entries)
{
    std::vector<std::string> names;
    const std::string image = FolderOf(entries - kTimedOps / 2, &names);
    Open(image);
    const MacPathTarget folder = EnterFolder(":Files");
    FolderFigures f;
    g_flushSeconds = 0;
    f.create = Measure(kTimedOps, [&] {
        for (unsigned i = 0; i < kTimedOps; ++i) CreateSmallFile(names[i]);
    });
    f.createFlush = g_flushSeconds * 1e6 / kTimedOps;
    g_flushSeconds = 0;
    f.rename = Measure(kTimedOps, [&] {
        for (unsigned i = 0; i < kTimedOps; ++i) RenameFile(names[i], names[kTimedOps + i]);
    });
    f.renameFlush = g_flushSeconds * 1e6 / kTimedOps;
    f.list = Measure(10, [&] {
        for (int i = 0; i < 10; ++i)
            if (!ShowMacFolder(folder)) throw std::runtime_error("listing failed");
    });
    EnterFolder(":Files");
    g_flushSeconds = 0;
    f.remove = Measure(kTimedOps, [&] {
        for (unsigned i = 0; i < kTimedOps; ++i) DeleteFile(names[kTimedOps + i]);
    });
    f.removeFlush = g_flushSeconds * 1e6 / kTimedOps;
    f.emptyFlush = Measure(kTimedOps, [&] {
        for (unsigned i = 0; i < kTimedOps; ++i) EndCommand("flush");
    });
    f.cachedBlocks = CacheBufferCount();
    CloseMacDrive();
    return f;
}

FolderFigures HfsutilsAround(unsigned entries)
{
    std::vector<std::string> names;
    const std::string image = FolderOf(entries - kTimedOps / 2, &names);
    const std::string& home = Dir().home;
    Must(RunProgram({"hmount", image}, home), "hmount");
    FolderFigures f;
    f.create = Measure(kTimedOps, [&] {
        for (unsigned i = 0; i < kTimedOps; ++i)
            Must(RunProgram({"hcopy", "-r", Dir().small, ":Files:" + names[i]}, home), "hcopy");
    });
    f.rename = Measure(kTimedOps, [&] {
        for (unsigned i = 0; i < kTimedOps; ++i)
            Must(RunProgram({"hrename", ":Files:" + names[i], ":Files:" + names[kTimedOps + i]}, home), "hrename");
    });
    f.list = Measure(10, [&] {
        for (int i = 0; i < 10; ++i) Must(RunProgram({"hls", ":Files"}, home), "hls");
    });
    f.remove = Measure(kTimedOps, [&] {
        for (unsigned i = 0; i < kTimedOps; ++i)
            Must(RunProgram({"hdel", ":Files:" + names[kTimedOps + i]}, home), "hdel");
    });
    Must(RunProgram({"humount"}, home), "humount");
    return f;
}

void Report(benchmark::State& state, const char* what, const Cost& c)
{
    state.counters[std::string(what) + "_us"] = c.wall;
    state.counters[std::string(what) + "_cpu_us"] = c.cpu;
}

void Report(benchmark::State& state, const FolderFigures& f)
{
    Report(state, "create", f.create);
    Report(state, "rename", f.rename);
    Report(state, "delete", f.remove);
    Report(state, "list", f.list);
    if (f.createFlush > 0) {
        state.counters["create_flush_us"] = f.createFlush;
        state.counters["rename_flush_us"] = f.renameFlush;
        state.counters["delete_flush_us"] = f.removeFlush;
        Report(state, "empty_flush", f.emptyFlush);
        state.counters["cached_blocks"] = f.cachedBlocks;
    }
}

// ---- benchmarks -----------------------------------------------------------------------

// Creates, renames and deletes while the folder holds about `entries`
// entries (half of the timed operations below that size, half above). The
// *_flush_us counters are the part of each command spent in FlushVolume.
void BM_WriteFolderAround(benchmark::State& state)
{
    FolderFigures f;
    for (auto _ : state) {
        try {
            f = EngineAround(static_cast<unsigned>(state.range(0)));
        } catch (const std::exception& e) {
            CloseMacDrive();
            return state.SkipWithError(e.what());
        }
    }
    Report(state, f);
}
BENCHMARK(BM_WriteFolderAround)->Arg(1000)->Arg(5000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HfsutilsFolderAround(benchmark::State& state)
{
    FolderFigures f;
    for (auto _ : state) {
        try {
            f = HfsutilsAround(static_cast<unsigned>(state.range(0)));
        } catch (const std::exception& e) {
            return state.SkipWithError(e.what());
        }
    }
    Report(state, f);
}
BENCHMARK(BM_HfsutilsFolderAround)->Arg(1000)->Arg(5000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole run: 5,000 files created in one empty folder, the folder
// listed, every file renamed, then deleted; each operation one command.
void BM_WriteFiveThousandFiles(benchmark::State& state)
{
    for (auto _ : state) {
        try {
            const std::string image = Dir().Copy(Dir().empty, "run.img");
            Open(image);
            EnterFolder(":");
            CreateFolderIn(g_folder, MacName("Files").bytes);
            EndCommand("mkdir");
            const MacPathTarget folder = EnterFolder(":Files");
            const std::vector<std::string> names = FileNames(2 * kRunFiles, 11);
            Report(state, "create", Measure(kRunFiles, [&] {
                       for (unsigned i = 0; i < kRunFiles; ++i) CreateSmallFile(names[i]);
                   }));
            Report(state, "list", Measure(1, [&] {
                       if (!ShowMacFolder(folder) || MacPaneState.count != kRunFiles)
                           throw std::runtime_error("listing failed");
                   }));
            EnterFolder(":Files");
            Report(state, "rename", Measure(kRunFiles, [&] {
                       for (unsigned i = 0; i < kRunFiles; ++i) RenameFile(names[i], names[kRunFiles + i]);
                   }));
            Report(state, "delete", Measure(kRunFiles, [&] {
                       for (unsigned i = 0; i < kRunFiles; ++i) DeleteFile(names[kRunFiles + i]);
                   }));
            CloseMacDrive();
        } catch (const std::exception& e) {
            CloseMacDrive();
            return state.SkipWithError(e.what());
        }
    }
}
BENCHMARK(BM_WriteFiveThousandFiles)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 50 MB data fork written (stream buffers of the transfer limit, then the
// flush) and deleted.
void BM_WriteBigFile(benchmark::State& state)
{
    double writeSeconds = 0;
    double deleteSeconds = 0;
    for (auto _ : state) {
        try {
            state.PauseTiming();
            const std::string image = Dir().Copy(Dir().empty, "big.img");
            Open(image);
            EnterFolder(":");
            state.ResumeTiming();
            auto t = Clock::now();
            CreateFile("Big", Dir().bigBytes.data(), kBigBytes);
            writeSeconds += Seconds(t);
            t = Clock::now();
            DeleteFile("Big");
            deleteSeconds += Seconds(t);
            state.PauseTiming();
            CloseMacDrive();
            state.ResumeTiming();
        } catch (const std::exception& e) {
            CloseMacDrive();
            return state.SkipWithError(e.what());
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["write_ms"] = writeSeconds * 1e3 / n;
    state.counters["write_MB_per_s"] = kBigBytes / 1e6 / (writeSeconds / n);
    state.counters["delete_ms"] = deleteSeconds * 1e3 / n;
}
BENCHMARK(BM_WriteBigFile)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HfsutilsBigFile(benchmark::State& state)
{
    double writeSeconds = 0;
    double deleteSeconds = 0;
    const std::string& home = Dir().home;
    for (auto _ : state) {
        try {
            state.PauseTiming();
            const std::string image = Dir().Copy(Dir().empty, "big.img");
            Must(RunProgram({"hmount", image}, home), "hmount");
            state.ResumeTiming();
            auto t = Clock::now();
            Must(RunProgram({"hcopy", "-r", Dir().big, ":Big"}, home), "hcopy");
            writeSeconds += Seconds(t);
            t = Clock::now();
            Must(RunProgram({"hdel", ":Big"}, home), "hdel");
            deleteSeconds += Seconds(t);
            state.PauseTiming();
            Must(RunProgram({"humount"}, home), "humount");
            state.ResumeTiming();
        } catch (const std::exception& e) {
            return state.SkipWithError(e.what());
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["write_ms"] = writeSeconds * 1e3 / n;
    state.counters["write_MB_per_s"] = kBigBytes / 1e6 / (writeSeconds / n);
    state.counters["delete_ms"] = deleteSeconds * 1e3 / n;
}
BENCHMARK(BM_HfsutilsBigFile)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Starting a program that does nothing: the floor under every hfsutils
// figure above.
void BM_ProcessStart(benchmark::State& state)
{
    for (auto _ : state) Must(RunProgram({"true"}, Dir().home), "true");
}
BENCHMARK(BM_ProcessStart)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
