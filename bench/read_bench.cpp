// Read-side speed on a volume made by hfsutils: listing a folder of 5,000
// files and reading a 50 MB file through the engine (into memory, and into a
// PC file), with hfsutils' own hls and hcopy on the same image beside them,
// and the cost of starting a program through the shell for scale.
//
// Run it from a Release build, in a build directory of your own:
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target quaylink_bench
//   build-bench/bench/quaylink_bench --benchmark_filter='BM_(Engine|Hfsutils|Shell)'
//
// The image (100 MB) is made once per run in a temporary directory, which
// needs hformat, hmkdir, hcopy and hls; the run takes about a minute. Every
// figure is wall-clock time (hfsutils runs in a child process), so run it on
// a quiet machine, and add --benchmark_repetitions=5 for medians.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "hfs/btree_search.h"
#include "hfs/fork_io.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "ui/mac_session.h"

#include "bench_support.h"

#include "support/volume_walk.h"

namespace {

namespace fs = std::filesystem;

constexpr unsigned kFolderFiles = 5000;
constexpr size_t kBigFileBytes = 50u * 1024 * 1024;
constexpr size_t kImageBytes = 100u * 1024 * 1024;

// The image and hfsutils' state, made on first use and removed at exit.
struct BenchVolume {
    fs::path dir;
    std::string image;
    std::string home;      // hmount keeps the mounted volume here
    std::string hfsEnv;    // "HOME='...' " for every hfsutils command

    BenchVolume()
    {
        dir = fs::temp_directory_path() / ("quaylink-bench-" + std::to_string(std::rand()) + "-" +
                                           std::to_string(fs::file_time_type::clock::now().time_since_epoch().count()));
        fs::create_directories(dir / "home");
        fs::create_directories(dir / "files");
        image = (dir / "bench.img").string();
        home = (dir / "home").string();
        hfsEnv = "HOME='" + home + "' ";

        {
            std::ofstream out(image, std::ios::binary | std::ios::trunc);
            out.seekp(static_cast<std::streamoff>(kImageBytes - 1));
            out.put(0);
        }
        Shell(hfsEnv + "hformat -l Bench '" + image + "' >/dev/null");
        Shell(hfsEnv + "hmkdir :Files");
        // Small files in batches, so no command line grows too long.
        for (unsigned first = 0; first < kFolderFiles; first += 500) {
            std::string batch;
            for (unsigned i = first; i < first + 500 && i < kFolderFiles; ++i) {
                char name[32];
                std::snprintf(name, sizeof name, "File %04u", i);
                const fs::path path = dir / "files" / name;
                const std::string text = std::string("contents of ") + name + "\n";
                WriteFile(path, std::vector<char>(text.begin(), text.end()));
                batch += " '" + path.string() + "'";
            }
            Shell(hfsEnv + "hcopy -r" + batch + " :Files:");
        }
        std::vector<char> big(kBigFileBytes);
        uint32_t x = 12345;
        for (char& c : big) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        WriteFile(dir / "big", big);
        Shell(hfsEnv + "hcopy -r '" + (dir / "big").string() + "' :Big");
        fs::remove_all(dir / "files");
        fs::remove(dir / "big");
    }
    ~BenchVolume()
    {
        std::system((hfsEnv + "humount >/dev/null 2>&1").c_str());
        std::error_code error;
        fs::remove_all(dir, error);
    }
};

BenchVolume& Volume()
{
    static BenchVolume volume;
    return volume;
}

// Opens the image read only and its one volume; false with StatusCode set.
bool OpenBenchVolume()
{
    StatusCode = 0;
    return OpenImageAsMacDrive(Volume().image.c_str(), false) && OpenListedVolume(0);
}

MacPathTarget Resolve(const char* path)
{
    MacPathTarget target{};
    if (!ResolveMacPath(path, &target)) throw std::runtime_error(std::string("not found: ") + path);
    return target;
}

// Reads a fork to its end in runs of the transfer limit; the byte count.
uint64_t ReadWholeFork(ForkRef& ref, uint8_t fork, std::vector<uint8_t>& run)
{
    uint64_t remaining = GetU32(ref.recordBuffer->data + ref.recordOffset + ForkLogicalOffset(fork));
    const uint64_t total = remaining;
    uint32_t block = 0;
    while (remaining > 0) {
        const uint16_t wanted = static_cast<uint16_t>(
            std::min<uint64_t>((remaining + 511) / 512, MaxTransferBytes / 512));
        const uint16_t got = ReadForkBlocks(run.data(), block, wanted, fork, &ref);
        if (got == 0) return total - remaining;
        remaining -= std::min<uint64_t>(remaining, uint64_t{got} * 512);
        block += got;
    }
    return total;
}

// Listing the folder with the volume open and its nodes cached: the cost of
// the catalog walk, the 5,000 items and the sort.
void BM_EngineListFolderWarm(benchmark::State& state)
{
    if (!OpenBenchVolume()) return state.SkipWithError("cannot open the volume");
    const MacPathTarget folder = Resolve(":Files");
    for (auto _ : state) {
        if (!ShowMacFolder(folder) || MacPaneState.count != kFolderFiles) return state.SkipWithError("listing failed");
        benchmark::DoNotOptimize(MacPaneState.items);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFolderFiles);
    CloseMacDrive();
}
BENCHMARK(BM_EngineListFolderWarm)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opening the image and the volume, finding the folder and listing it, from
// nothing cached: what one hls run does.
void BM_EngineListFolderCold(benchmark::State& state)
{
    for (auto _ : state) {
        if (!OpenBenchVolume()) return state.SkipWithError("cannot open the volume");
        if (!ShowMacFolder(Resolve(":Files")) || MacPaneState.count != kFolderFiles)
            return state.SkipWithError("listing failed");
        CloseMacDrive();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFolderFiles);
}
BENCHMARK(BM_EngineListFolderCold)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HfsutilsListFolder(benchmark::State& state)
{
    const BenchVolume& v = Volume();
    Shell(v.hfsEnv + "hmount '" + v.image + "' >/dev/null");
    const std::string command = v.hfsEnv + "hls :Files >/dev/null";
    for (auto _ : state) Shell(command);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFolderFiles);
}
BENCHMARK(BM_HfsutilsListFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reading the 50 MB data fork straight from the image (the file stays in
// the system's file cache after the first run).
void BM_EngineReadBigFile(benchmark::State& state)
{
    if (!OpenBenchVolume()) return state.SkipWithError("cannot open the volume");
    const MacPathTarget file = Resolve(":Big");
    std::vector<uint8_t> run(MaxTransferBytes);
    for (auto _ : state) {
        ForkRef ref{};
        if (LookupFile(file.name, file.parentId, &ref) != 0) return state.SkipWithError("lookup failed");
        PinBlock(ref.recordBuffer);
        const uint64_t bytes = ReadWholeFork(ref, kDataFork, run);
        UnpinBlock(ref.recordBuffer);
        if (bytes != kBigFileBytes) return state.SkipWithError("short read");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFileBytes));
    CloseMacDrive();
}
BENCHMARK(BM_EngineReadBigFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same, with the bytes written to a PC file as a copy does: the figure
// to set beside hcopy.
void BM_EngineCopyBigFile(benchmark::State& state)
{
    if (!OpenBenchVolume()) return state.SkipWithError("cannot open the volume");
    const MacPathTarget file = Resolve(":Big");
    const std::string out = (Volume().dir / "engine.out").string();
    std::vector<uint8_t> run(MaxTransferBytes);
    for (auto _ : state) {
        ForkRef ref{};
        if (LookupFile(file.name, file.parentId, &ref) != 0) return state.SkipWithError("lookup failed");
        std::FILE* pc = std::fopen(out.c_str(), "wb");
        if (!pc) return state.SkipWithError("cannot create the PC file");
        PinBlock(ref.recordBuffer);
        uint64_t remaining = GetU32(ref.recordBuffer->data + ref.recordOffset + kFileRecDataLogical);
        uint32_t block = 0;
        while (remaining > 0) {
            const uint16_t wanted = static_cast<uint16_t>(
                std::min<uint64_t>((remaining + 511) / 512, MaxTransferBytes / 512));
            const uint16_t got = ReadForkBlocks(run.data(), block, wanted, kDataFork, &ref);
            if (got == 0) break;
            const uint64_t bytes = std::min<uint64_t>(remaining, uint64_t{got} * 512);
            std::fwrite(run.data(), 1, bytes, pc);
            remaining -= bytes;
            block += got;
        }
        UnpinBlock(ref.recordBuffer);
        std::fclose(pc);
        if (remaining != 0) return state.SkipWithError("short read");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFileBytes));
    fs::remove(out);
    CloseMacDrive();
}
BENCHMARK(BM_EngineCopyBigFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HfsutilsCopyBigFile(benchmark::State& state)
{
    const BenchVolume& v = Volume();
    Shell(v.hfsEnv + "hmount '" + v.image + "' >/dev/null");
    const std::string out = (v.dir / "big.out").string();
    const std::string command = v.hfsEnv + "hcopy -r :Big '" + out + "'";
    for (auto _ : state) Shell(command);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFileBytes));
    fs::remove(out);
}
BENCHMARK(BM_HfsutilsCopyBigFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every folder listed and every fork read: the whole volume, 5,001 files.
void BM_EngineWalkVolume(benchmark::State& state)
{
    uint64_t bytes = 0;
    for (auto _ : state) {
        const WalkSummary s = WalkVolume(Volume().image.c_str());
        if (!s.Clean() || s.files != kFolderFiles + 1) return state.SkipWithError("walk failed");
        bytes += s.bytes;
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_EngineWalkVolume)->Unit(benchmark::kMillisecond)->UseRealTime();

// Starting a program through the shell: the floor under both hfsutils
// figures.
void BM_ShellStart(benchmark::State& state)
{
    for (auto _ : state) Shell("true");
}
BENCHMARK(BM_ShellStart)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
