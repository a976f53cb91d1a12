// Copy speed with the Data translator, beside hfsutils' hcopy -r doing the
// same work on the same kind of image in the same run: a 64 MB file into and
// out of a 100 MB volume, and 2,000 files of 4 KB each way. Our side is timed
// as the desktop program works: open the image and the volume, translate each
// file (a flush after each one put), close. hcopy's side is one hcopy run
// (process start and volume mount included, as ours includes the open).
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target quaylink_bench
//   build-bench/bench/quaylink_bench --benchmark_filter=Copy
//
// Each copy into the volume starts from a fresh copy of an empty image (the
// copying is not timed). Needs hformat, hmount, hmkdir and hcopy.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "core/status.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "translate/registry.h"
#include "translate/translators.h"
#include "ui/mac_session.h"

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kBigBytes = 64u * 1024 * 1024;
constexpr size_t kImageBytes = 100u * 1024 * 1024;
constexpr unsigned kSmallFiles = 2000;
constexpr size_t kSmallBytes = 4096;

std::vector<char> Noise(size_t size, uint32_t seed)
{
    std::vector<char> bytes(size);
    uint32_t x = seed;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string SmallName(unsigned i)
{
    char name[32];
    std::snprintf(name, sizeof name, "file%04u.dat", i);
    return name;
}

// The PC files, an empty image and one holding the files (made by hcopy), in
// a temporary directory removed at exit.
struct TransferFixture {
    fs::path dir;
    std::string hfsEnv;      // HOME for hmount's state
    std::string empty;       // a formatted, empty 100 MB image
    std::string filled;      // the same with :Big and :Files:file0000.dat ...
    std::string work;        // the image each copy into the volume writes
    fs::path in;             // PC files to copy in: big, small/...
    fs::path out;            // where copies out land

    TransferFixture()
    {
        dir = fs::temp_directory_path() /
              ("quaylink-transfer-bench-" +
               std::to_string(fs::file_time_type::clock::now().time_since_epoch().count()));
        for (const char* sub : {"home", "in/small", "out"}) fs::create_directories(dir / sub);
        hfsEnv = "HOME='" + (dir / "home").string() + "' ";
        in = dir / "in";
        out = dir / "out";
        empty = (dir / "empty.img").string();
        filled = (dir / "filled.img").string();
        work = (dir / "work.img").string();
        {
            std::ofstream image(empty, std::ios::binary | std::ios::trunc);
            image.seekp(static_cast<std::streamoff>(kImageBytes - 1));
            image.put(0);
        }
        Shell(hfsEnv + "hformat -l Bench '" + empty + "' >/dev/null");
        Shell(hfsEnv + "humount >/dev/null 2>&1 || true");
        WriteFile(in / "big", Noise(kBigBytes, 7));
        for (unsigned i = 0; i < kSmallFiles; ++i) WriteFile(in / "small" / SmallName(i), Noise(kSmallBytes, i));
        fs::copy_file(empty, filled);
        Shell(hfsEnv + "hmount '" + filled + "' >/dev/null && " + hfsEnv + "hmkdir :Files && " + hfsEnv +
              "hcopy -r '" + (in / "big").string() + "' :Big && " + SmallCopy(":Files:") + " && " + hfsEnv +
              "humount");
    }
    ~TransferFixture()
    {
        std::error_code error;
        fs::remove_all(dir, error);
    }

    // One hcopy for all the small files (the shell expands the names, so no
    // single argument grows past the system's limit).
    std::string SmallCopy(const std::string& target) const
    {
        return "cd '" + (in / "small").string() + "' && " + hfsEnv + "hcopy -r file*.dat " + target;
    }
    void FreshWorkImage() const { fs::copy_file(empty, work, fs::copy_options::overwrite_existing); }
    void EmptyOut() const
    {
        fs::remove_all(out);
        fs::create_directories(out);
    }
};

TransferFixture& Fixture()
{
    static TransferFixture fixture;
    return fixture;
}

// The preferences of a copy: dates kept, type maps on (no map file: every
// lookup falls back), the Data translator in both directions.
void PrepareEngine()
{
    std::snprintf(IniPath, sizeof IniPath, "%s", (Fixture().dir / "PIER.INI").string().c_str());
    std::snprintf(FtmPath, sizeof FtmPath, "%s", (Fixture().dir / "PIER.FTM").string().c_str());
    CurrentOptions.keepDate = true;
    CurrentOptions.macUseMap = true;
    CurrentOptions.pcUseMap = true;
    RegisterAllTranslators();
    MacToPcIndex = PcToMacIndex = kDataTranslator;
    StatusCode = 0;
}

bool OpenWork(const std::string& image, bool writable, const char* folder)
{
    if (!OpenImageAsMacDrive(image.c_str(), writable) || !OpenListedVolume(0)) return false;
    MacPathTarget target{};
    return ResolveMacPath(folder, &target) && ShowMacFolder(target);
}

// Runs `copy` with `directory` as the current directory.
template <typename Copy>
bool InDirectory(const fs::path& directory, Copy copy)
{
    const fs::path saved = fs::current_path();
    fs::current_path(directory);
    const bool ok = copy();
    fs::current_path(saved);
    return ok;
}

// Times `copy` once per iteration, after an untimed `prepare`.
template <typename Prepare, typename Copy>
void TimeCopies(benchmark::State& state, Prepare prepare, Copy copy)
{
    for (auto _ : state) {
        state.PauseTiming();
        prepare();
        state.ResumeTiming();
        if (!copy()) return state.SkipWithError("copy failed");
    }
}

// Our copy into the volume: the PC files `names` of `source` into the root of
// the work image, written back after each file or, without `flushEach`, once
// at the end.
bool CopyIn(const fs::path& source, const std::vector<std::string>& names, bool flushEach)
{
    const TransferFixture& f = Fixture();
    return InDirectory(source, [&] {
        if (!OpenWork(f.work, true, ":")) return false;
        for (const std::string& name : names) {
            RunPcToMacTranslator(name.c_str(), MacPaneState.folderId);
            if (StatusCode == 0 && flushEach) FlushVolume();
            if (StatusCode != 0) break;
        }
        if (!flushEach && StatusCode == 0) FlushVolume();
        const bool done = StatusCode == 0;
        CloseMacDrive();
        return done;
    });
}

// Our copy out of the volume: the Mac files `names` of `folder` in the filled
// image into the out directory.
bool CopyOut(const char* folder, const std::vector<std::string>& names)
{
    const TransferFixture& f = Fixture();
    std::vector<std::vector<uint8_t>> macNames;
    for (const std::string& name : names) {
        macNames.emplace_back(1, static_cast<uint8_t>(name.size()));
        macNames.back().insert(macNames.back().end(), name.begin(), name.end());
    }
    return InDirectory(f.out, [&] {
        if (!OpenWork(f.filled, false, folder)) return false;
        for (const auto& name : macNames) {
            RunMacToPcTranslator(name.data(), MacPaneState.folderId);
            if (StatusCode != 0) break;
        }
        const bool done = StatusCode == 0;
        CloseMacDrive();
        return done;
    });
}

std::vector<std::string> SmallNames()
{
    std::vector<std::string> names;
    for (unsigned i = 0; i < kSmallFiles; ++i) names.push_back(SmallName(i));
    return names;
}

// hcopy's side: `command` on a mounted fresh work image, or on a mounted
// copy of the filled one (libhfs writes to what it mounts) with an empty out
// directory.
void TimeHcopy(benchmark::State& state, bool intoVolume, const std::string& command)
{
    const TransferFixture& f = Fixture();
    TimeCopies(
        state,
        [&] {
            if (intoVolume) {
                f.FreshWorkImage();
            } else {
                f.EmptyOut();
                fs::copy_file(f.filled, f.work, fs::copy_options::overwrite_existing);
            }
            Shell(f.hfsEnv + "hmount '" + f.work + "' >/dev/null");
        },
        [&] {
            Shell(command);
            return true;
        });
}

void BM_CopyBigFileIn(benchmark::State& state)
{
    PrepareEngine();
    TimeCopies(state, [] { Fixture().FreshWorkImage(); }, [] { return CopyIn(Fixture().in, {"big"}, true); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_CopyBigFileIn)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HcopyBigFileIn(benchmark::State& state)
{
    const TransferFixture& f = Fixture();
    TimeHcopy(state, true, f.hfsEnv + "hcopy -r '" + (f.in / "big").string() + "' :big");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_HcopyBigFileIn)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyBigFileOut(benchmark::State& state)
{
    PrepareEngine();
    TimeCopies(state, [] { Fixture().EmptyOut(); }, [] { return CopyOut(":", {"Big"}); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_CopyBigFileOut)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HcopyBigFileOut(benchmark::State& state)
{
    const TransferFixture& f = Fixture();
    TimeHcopy(state, false, f.hfsEnv + "hcopy -r :Big '" + (f.out / "Big").string() + "'");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_HcopyBigFileOut)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each file put is written back at once, as the desktop program does (a
// failure later loses nothing finished); range(0) == 0 writes back once at
// the end instead, as hcopy does, to show what the per-file write-back costs.
void BM_CopySmallFilesIn(benchmark::State& state)
{
    PrepareEngine();
    const bool flushEach = state.range(0) != 0;
    const std::vector<std::string> names = SmallNames();
    TimeCopies(state, [] { Fixture().FreshWorkImage(); },
               [&] { return CopyIn(Fixture().in / "small", names, flushEach); });
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSmallFiles));
}
BENCHMARK(BM_CopySmallFilesIn)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HcopySmallFilesIn(benchmark::State& state)
{
    TimeHcopy(state, true, Fixture().SmallCopy(":"));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSmallFiles));
}
BENCHMARK(BM_HcopySmallFilesIn)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopySmallFilesOut(benchmark::State& state)
{
    PrepareEngine();
    const std::vector<std::string> names = SmallNames();
    TimeCopies(state, [] { Fixture().EmptyOut(); }, [&] { return CopyOut(":Files", names); });
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSmallFiles));
}
BENCHMARK(BM_CopySmallFilesOut)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HcopySmallFilesOut(benchmark::State& state)
{
    const TransferFixture& f = Fixture();
    TimeHcopy(state, false, f.hfsEnv + "hcopy -r ':Files:*' '" + f.out.string() + "/'");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSmallFiles));
}
BENCHMARK(BM_HcopySmallFilesOut)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
