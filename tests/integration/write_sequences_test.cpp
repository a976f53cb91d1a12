// Writes checked against a model of the volume: failing device writes at
// every step, a read-only volume, one image changed by hfsutils and by us in
// turn, and seeded random runs checked after every flush and by hfsutils at
// the end. QUAYLINK_LONG=1 runs longer; QUAYLINK_SEED=n replaces the seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "core/window_system.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/bitmap.h"
#include "hfs/btree_node.h"
#include "hfs/btree_update.h"
#include "hfs/catalog_keys.h"
#include "hfs/catalog_ops.h"
#include "hfs/fork_io.h"
#include "hfs/format.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_state.h"
#include "support/engine_tree.h"
#include "support/hfsutils_driver.h"
#include "support/recording_window.h"
#include "support/run_command.h"
#include "support/shadow_volume.h"
#include "support/temp_image.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

class WriteFaults : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        CurrentOptions.hideInvisible = false;
    }

    // Opens `path` as the Mac drive and its volume; the slot of the image.
    int Open(const std::string& path)
    {
        if (!OpenImageAsMacDrive(path.c_str(), true) || !OpenListedVolume(0)) {
            ADD_FAILURE() << "cannot open " << path << ": status " << StatusCode;
            return -1;
        }
        for (unsigned i = 0; i < kMaxImages; ++i)
            if (ImageTable[i].used) return static_cast<int>(i);
        return -1;
    }

    static ShadowFile File(uint32_t seed, uint32_t data, uint32_t rsrc)
    {
        return {"BINA", "qlnk", {seed, data, nullptr}, {seed + 1, rsrc, nullptr}};
    }

    TempDir dir;
    HfsUtils hfs;
};

// The commands of the run, one per step, built against the model as it
// stands when the step comes.
std::vector<WriteOp> FaultSteps(ShadowVolume& model, unsigned step)
{
    ShadowNode* root = model.Root();
    ShadowNode* folder = root->children.count("Fault Folder") ? root->children.at("Fault Folder").get() : nullptr;
    std::vector<WriteOp> ops;
    switch (step) {
    case 0: return {MakeWriteOp(WriteOp::CreateFolder, root, "Fault Folder")};
    case 1: {
        WriteOp op = MakeWriteOp(WriteOp::CreateFile, folder, "Hundred KB");
        op.file = {"BINA", "qlnk", {71, 100 * 1024, nullptr}, {72, 9000, nullptr}};
        op.chunkSeed = 5;
        return {op};
    }
    case 2: {
        WriteOp op = MakeWriteOp(WriteOp::Rename, folder, "Hundred KB");
        op.newName = "Renamed after writing";
        return {op};
    }
    case 3:  // enough records to split a leaf or two of the crowded root
        for (uint32_t i = 0; i < 6; ++i) {
            ops.push_back(MakeWriteOp(WriteOp::CreateFile, root, "Later file " + std::to_string(i)));
            ops.back().file.data = ShadowFork{80 + i, 700 * i, nullptr};
        }
        return ops;
    case 4: return {MakeWriteOp(WriteOp::DeleteFile, folder, "Renamed after writing")};
    case 5: return {MakeWriteOp(WriteOp::DeleteFile, root, "Filler 03"),
                    MakeWriteOp(WriteOp::DeleteFile, root, "Filler 04")};
    case 6: return {MakeWriteOp(WriteOp::DeleteFolder, root, "Fault Folder")};
    case 7:  // long names until the catalog file grows by a clump
        for (int i = 0; i < 40; ++i)
            ops.push_back(
                MakeWriteOp(WriteOp::CreateFolder, root, "A folder with a long name " + std::to_string(100 + i)));
        return ops;
    default: return {};
    }
}

struct RunPosition {
    unsigned step = 0;
    size_t op = 0;
};

void RunFaultSteps(ShadowVolume& model, bool retry, std::vector<uint32_t>* statuses, RunPosition* at)
{
    for (;; ++at->step, at->op = 0) {
        std::vector<WriteOp> ops = FaultSteps(model, at->step);
        if (ops.empty()) return;
        for (; at->op < ops.size(); ++at->op) {
            const WriteOp& op = ops[at->op];
            uint32_t newId = 0;
            uint32_t status = EndCommand(RunEngineOp(&model, op, &newId));
            if (status != 0) {
                statuses->push_back(status);
                if (!retry) return;
                status = EndCommand(RunEngineOp(&model, op, &newId));
                if (status != 0) {
                    statuses->push_back(status);
                    continue;
                }
            }
            model.Apply(op, newId);
        }
    }
}

TEST_F(WriteFaults, EveryFailedTransferLeavesTheLastFlushIntactAndChecked)
{
    // A diskette with a root full enough for index nodes, made by us.
    const std::string base = dir.PathOf("base.img");
    ASSERT_TRUE(hfs.Format(base, "Faults", 1474560)) << hfs.LastError();
    ShadowVolume baseModel;
    {
        ASSERT_GE(Open(base), 0);
        ASSERT_TRUE(baseModel.LoadFromEngine());
        for (int i = 0; i < 14; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Filler %02d", i);
            WriteOp op = MakeWriteOp(WriteOp::CreateFile, baseModel.Root(), name);
            op.file = File(static_cast<uint32_t>(10 + i), static_cast<uint32_t>(1000 * i), i % 3 ? 0u : 300u);
            ASSERT_EQ(EndCommand(RunEngineOp(&baseModel, op, nullptr)), 0u);
            baseModel.Apply(op);
        }
        CloseMacDrive();
    }
    const Bytes baseBytes = ReadFileBytes(base);

    // The clean run, to count the transfers; once more with short ones.
    uint32_t totalWrites = 0;
    uint32_t totalReads = 0;
    for (const uint32_t shortTransfers : {0u, 3u}) {
        const std::string path = dir.WriteFile("clean.img", baseBytes);
        const int slot = Open(path);
        ASSERT_GE(slot, 0);
        ImageTable[slot].faults.maxSectorsPerCall = shortTransfers;
        ShadowVolume model;
        ASSERT_TRUE(model.LoadFromEngine());
        const uint32_t writes = ImageTable[slot].faults.writes;
        const uint32_t reads = ImageTable[slot].faults.reads;
        std::vector<uint32_t> statuses;
        RunPosition at;
        RunFaultSteps(model, false, &statuses, &at);
        EXPECT_TRUE(statuses.empty());
        if (shortTransfers == 0) {
            totalWrites = ImageTable[slot].faults.writes - writes;
            totalReads = ImageTable[slot].faults.reads - reads;
        }
        std::string why;
        EXPECT_TRUE(VolumeIsClean(&why)) << why;
        CloseMacDrive();
        ASSERT_GE(Open(path), 0);
        EXPECT_TRUE(EngineMatches(model, true, &why)) << why;
        CloseMacDrive();
    }
    ASSERT_GT(totalWrites, 100u);

    struct Fault {
        bool write;
        uint32_t k;
    };
    std::vector<Fault> faults;
    for (uint32_t k = 1; k <= totalWrites; ++k) faults.push_back({true, k});
    for (uint32_t k = 1; k <= totalReads; ++k) faults.push_back({false, k});
    for (const Fault& fault : faults) {
        SCOPED_TRACE(std::string("failing device ") + (fault.write ? "write " : "read ") + std::to_string(fault.k));
        const std::string path = dir.WriteFile("fault.img", baseBytes);
        RecordingWindowSystem ws;
        const int slot = Open(path);
        ASSERT_GE(slot, 0);
        ShadowVolume model;
        ASSERT_TRUE(model.LoadFromEngine());
        ImageFaults& f = ImageTable[slot].faults;
        if (fault.write)
            f.failWriteAt = f.writes + fault.k;
        else
            f.failReadAt = f.reads + fault.k;
        std::vector<uint32_t> statuses;
        RunPosition at;
        RunFaultSteps(model, false, &statuses, &at);
        // One failed command, one status, one message.
        ASSERT_EQ(statuses.size(), 1u);
        EXPECT_EQ(statuses[0], fault.write ? kStatusWriteError : kStatusReadError);
        EXPECT_EQ(StatusCode, 0u);
        ASSERT_EQ(ws.messages.size(), 1u);
        EXPECT_EQ(ws.messages[0].text, fault.write ? "Error writing to Mac disk" : "Error reading Mac disk");
        const std::string failedAt = dir.WriteFile("at-failure.img", ReadFileBytes(path));
        const ShadowVolume flushed = model.Clone();

        // Going on: the failed command again, then the rest.
        RunFaultSteps(model, true, &statuses, &at);
        EXPECT_EQ(statuses.size(), 1u) << "a later command failed too";
        CloseMacDrive();
        ASSERT_GE(Open(path), 0);
        std::string why;
        EXPECT_TRUE(VolumeIsClean(&why)) << "after going on:\n" << why;
        EXPECT_TRUE(EngineMatches(model, false, &why)) << "after going on:\n" << why;
        CloseMacDrive();

        // The image as the failure left it: the last flush, sound.
        ASSERT_GE(Open(failedAt), 0);
        EXPECT_TRUE(VolumeIsClean(&why)) << "as the failure left it:\n" << why;
        EXPECT_TRUE(EngineMatches(flushed, true, &why)) << "as the failure left it:\n" << why;
        CloseMacDrive();
        if (HasFatalFailure()) return;
    }
}

TEST_F(WriteFaults, FailedReplacementLeavesTheOldFileByteForByte)
{
    const std::string base = dir.PathOf("replace-base.img");
    ASSERT_TRUE(hfs.Format(base, "Replace", 1474560)) << hfs.LastError();
    ShadowVolume before;
    {
        ASSERT_GE(Open(base), 0);
        ASSERT_TRUE(before.LoadFromEngine());
        // The old file between two others, so its blocks are the first free
        // run once it is gone.
        for (const char* name : {"Before", "Old", "After"}) {
            WriteOp op = MakeWriteOp(WriteOp::CreateFile, before.Root(), name);
            op.file = File(static_cast<uint32_t>(name[0]), 200000, 7000);
            ASSERT_EQ(EndCommand(RunEngineOp(&before, op, nullptr)), 0u);
            before.Apply(op);
        }
        CloseMacDrive();
    }
    const Bytes baseBytes = ReadFileBytes(base);
    // One command; the model follows it when it succeeds.
    auto replace = [](ShadowVolume* model, uint32_t dataSize) {
        const WriteOp remove = MakeWriteOp(WriteOp::DeleteFile, model->Root(), "Old");
        WriteOp create = MakeWriteOp(WriteOp::CreateFile, model->Root(), "Old");
        create.file = File(900, dataSize, 5000);
        uint32_t status = RunEngineOp(model, remove, nullptr);
        if (status == 0) status = RunEngineOp(model, create, nullptr);
        status = EndCommand(status);
        if (status == 0) {
            model->Apply(remove);
            model->Apply(create);
        }
        return status;
    };

    // The clean replacement, to count its writes.
    uint32_t writes = 0;
    {
        const std::string path = dir.WriteFile("replace.img", baseBytes);
        const int slot = Open(path);
        ASSERT_GE(slot, 0);
        ShadowVolume model = before.Clone();
        const uint32_t atOpen = ImageTable[slot].faults.writes;
        ASSERT_EQ(replace(&model, 250000), 0u);
        writes = ImageTable[slot].faults.writes - atOpen;
        CloseMacDrive();
        ASSERT_GE(Open(path), 0);
        std::string why;
        EXPECT_TRUE(EngineMatches(model, true, &why)) << why;
        CloseMacDrive();
    }
    ASSERT_GT(writes, 5u);

    struct Case {
        uint32_t failWrite;  // 0: none; the replacement does not fit
        uint32_t dataSize;
        uint32_t status;
    };
    std::vector<Case> cases{{0, 1100000, kStatusDiskFull}};
    for (uint32_t k = 1; k <= writes; ++k) cases.push_back({k, 250000, kStatusWriteError});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failWrite ? "failing device write " + std::to_string(c.failWrite) : "out of room");
        const std::string path = dir.WriteFile("replace.img", baseBytes);
        RecordingWindowSystem ws;
        const int slot = Open(path);
        ASSERT_GE(slot, 0);
        if (c.failWrite) ImageTable[slot].faults.failWriteAt = ImageTable[slot].faults.writes + c.failWrite;
        ShadowVolume model = before.Clone();
        EXPECT_EQ(replace(&model, c.dataSize), c.status);
        CloseMacDrive();
        ASSERT_GE(Open(path), 0);
        std::string why;
        EXPECT_TRUE(VolumeIsClean(&why)) << why;
        EXPECT_TRUE(EngineMatches(before, true, &why)) << why;
        CloseMacDrive();
        ASSERT_TRUE(hfs.MountCopy(path)) << hfs.LastError();
        EXPECT_TRUE(HfsUtilsMatches(hfs, before, true, 1, &why)) << why;
        if (HasFatalFailure()) return;
    }
}

TEST_F(WriteFaults, FailedFlushAfterTheCatalogGrewForgetsTheGrowth)
{
    const std::string path = dir.PathOf("grow.img");
    ASSERT_TRUE(hfs.Format(path, "Grow", 1474560)) << hfs.LastError();
    RecordingWindowSystem ws;
    const int slot = Open(path);
    ASSERT_GE(slot, 0);
    ShadowVolume model;
    ASSERT_TRUE(model.LoadFromEngine());
    const uint32_t catalogSize = GetU32(MacVolume.mdb->data + kMdbCatalogSize);
    bool failedOnce = false;
    for (int i = 0; i < 300 && !HasFatalFailure(); ++i) {
        const std::string name = "Grower " + std::to_string(1000 + i) + " with a long name";
        WriteOp op = MakeWriteOp(WriteOp::CreateFile, model.Root(), name);
        op.file = File(static_cast<uint32_t>(i + 1), 600, 0);
        const uint32_t status = RunEngineOp(&model, op, nullptr);
        ASSERT_EQ(status, 0u);
        const bool grew = CatalogFileRecord.flags & kBlockDirty;
        if (grew && !failedOnce) {
            ImageTable[slot].faults.failWriteAt = ImageTable[slot].faults.writes + 1;
            EXPECT_EQ(EndCommand(0), kStatusWriteError);
            failedOnce = true;
            // As it was at the last flush: the file record of the catalog
            // and the MDB agree on the catalog's size.
            EXPECT_EQ(GetU32(MacVolume.mdb->data + kMdbCatalogSize), catalogSize);
            EXPECT_EQ(GetU32(CatalogFileRecord.data + kFileRecDataPhysical), catalogSize)
                << "the catalog's in-memory record kept the growth the discard dropped";
            std::string why;
            EXPECT_TRUE(VolumeIsClean(&why)) << why;
            continue;
        }
        ASSERT_EQ(EndCommand(0), 0u);
        model.Apply(op);
        if (failedOnce && GetU32(MacVolume.mdb->data + kMdbCatalogSize) > catalogSize + 2 * 11264) break;
    }
    ASSERT_TRUE(failedOnce) << "the catalog never grew";
    CloseMacDrive();
    ASSERT_GE(Open(path), 0);
    std::string why;
    EXPECT_TRUE(VolumeIsClean(&why)) << why;
    EXPECT_TRUE(EngineMatches(model, true, &why)) << why;
    CloseMacDrive();
}

TEST_F(WriteFaults, ReadOnlyVolumeRefusesTheFirstWriteAndStaysAsItWas)
{
    const std::string path = dir.PathOf("ro.img");
    ASSERT_TRUE(hfs.Format(path, "ReadOnly", 1474560)) << hfs.LastError();
    ASSERT_TRUE(hfs.Mkdir(":Kept"));
    // No alternate MDB.
    Bytes bytes = ReadFileBytes(path);
    std::fill(bytes.end() - 1024, bytes.end() - 512, 0);
    dir.WriteFile("ro.img", bytes);

    for (const bool withData : {false, true}) {  // a file is refused at its first data write, a folder at the flush
        SCOPED_TRACE(withData);
        RecordingWindowSystem ws;
        ws.questionAnswer = kIdYes;
        ASSERT_GE(Open(path), 0);
        ASSERT_EQ(ws.messages.size(), 1u);
        EXPECT_EQ(ws.messages[0].text, "Mount volume read only?");
        EXPECT_EQ(ws.messages[0].caption, "Can't find backup VIB");
        EXPECT_TRUE(DriveTable[MacDriveIndex].Flags & kDriveReadOnly);
        ShadowVolume model;
        ASSERT_TRUE(model.LoadFromEngine());
        const int slot = static_cast<int>(DriveTable[MacDriveIndex].Unit);
        const uint32_t writes = ImageTable[slot].faults.writes;

        WriteOp op = MakeWriteOp(withData ? WriteOp::CreateFile : WriteOp::CreateFolder, model.Root(), "Never");
        if (withData) op.file = File(3, 5000, 0);
        const uint32_t status = RunEngineOp(&model, op, nullptr);
        EXPECT_EQ(status, withData ? kStatusReadOnly : 0u);
        EXPECT_EQ(EndCommand(status), kStatusReadOnly);
        EXPECT_EQ(ImageTable[slot].faults.writes, writes);
        ASSERT_EQ(ws.messages.size(), 2u);
        EXPECT_EQ(ws.messages[1].text, "Mac volume is read only");
        std::string why;
        EXPECT_TRUE(EngineMatches(model, true, &why)) << why;
        CloseMacDrive();
        EXPECT_TRUE(ReadFileBytes(path) == bytes);
    }

    // Answered No, the same volume takes the write.
    RecordingWindowSystem ws;
    ws.questionAnswer = kIdNo;
    ASSERT_GE(Open(path), 0);
    EXPECT_FALSE(DriveTable[MacDriveIndex].Flags & kDriveReadOnly);
    ShadowVolume model;
    ASSERT_TRUE(model.LoadFromEngine());
    WriteOp op = MakeWriteOp(WriteOp::CreateFolder, model.Root(), "Written");
    EXPECT_EQ(EndCommand(RunEngineOp(&model, op, nullptr)), 0u);
    CloseMacDrive();
    EXPECT_FALSE(ReadFileBytes(path) == bytes);
}

class MixedWithHfsUtils : public WriteFaults {
protected:
    std::string RandomName()
    {
        // Mac letters above 0x7F too (accented, upper and lower case), so
        // that each side must find names in the other's key order.
        static const std::string kAlphabet =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .-_#%&()+="
            "\x80\x81\x83\x85\x87\x88\x8A\x8E\x96\x9A\xA7\xAE\xBF\xCB\xD8";
        const unsigned length = 1 + rng() % 31;
        std::string name;
        for (unsigned i = 0; i < length; ++i) name += kAlphabet[rng() % kAlphabet.size()];
        return name;
    }
    ShadowNode* RandomChild(ShadowNode* folder, bool wantFolder)
    {
        std::vector<ShadowNode*> fit;
        for (auto& [n, child] : folder->children)
            if (child->folder == wantFolder) fit.push_back(child.get());
        return fit.empty() ? nullptr : fit[rng() % fit.size()];
    }
    std::string FreeName(ShadowNode* folder)
    {
        for (;;) {
            std::string name = RandomName();
            if (!folder->children.count(name)) return name;
        }
    }
    // One random change. Ours run as commands on the open volume; theirs
    // with the volume closed. Returns a text for the trace.
    std::string OneChange(bool ours)
    {
        const std::vector<ShadowNode*> folders = model.Folders();
        ShadowNode* folder = folders[rng() % folders.size()];
        const std::string path = folder->Path();
        WriteOp op;
        op.folder = folder;
        const unsigned pick = rng() % 100;
        if (pick < 30) {
            op.kind = WriteOp::CreateFile;
            op.name = FreeName(folder);
            const uint32_t sizes[] = {0, 1, 511, 512, 513, 4000, 70000, 300000};
            op.file = File(static_cast<uint32_t>(rng()) | 1u, sizes[rng() % 8], rng() % 2 ? sizes[rng() % 6] : 0);
            op.chunkSeed = static_cast<uint32_t>(rng());
        } else if (pick < 45) {
            op.kind = WriteOp::CreateFolder;
            op.name = FreeName(folder);
        } else if (pick < 60) {
            ShadowNode* item = RandomChild(folder, rng() % 3 == 0);
            if (!item) return "nothing to rename in " + path;
            op.kind = WriteOp::Rename;
            op.name = item->name;
            op.newName = FreeName(folder);
        } else if (pick < 72) {
            ShadowNode* item = RandomChild(folder, false);
            if (!item) return "no file in " + path;
            op.kind = WriteOp::SetType;
            op.name = item->name;
            op.file.type = rng() % 2 ? "TEXT" : "APPL";
            op.file.creator = rng() % 2 ? "ttxt" : "Zzzz";
        } else if (pick < 90) {
            ShadowNode* item = RandomChild(folder, false);
            if (!item) return "no file in " + path;
            op.kind = WriteOp::DeleteFile;
            op.name = item->name;
        } else {
            ShadowNode* item = RandomChild(folder, true);
            if (!item || !item->children.empty()) return "no empty folder in " + path;
            op.kind = WriteOp::DeleteFolder;
            op.name = item->name;
        }
        const std::string where = JoinMacPath(path, op.name);
        if (ours) {
            uint32_t newId = 0;
            const uint32_t status = EndCommand(RunEngineOp(&model, op, &newId));
            EXPECT_EQ(status, 0u) << "ours: " << op.kind << " " << where;
            if (status == 0) model.Apply(op, newId);
            return "ours " + std::to_string(op.kind) + " " + where;
        }
        bool ok = false;
        switch (op.kind) {
        case WriteOp::CreateFile:
            if (rng() % 2 == 0 && op.file.rsrc.size == 0) {
                // hcopy -r makes type "????" and creator "UNIX".
                op.file.type = "????";
                op.file.creator = "UNIX";
                ok = hfs.PutRaw(dir.WriteFile("raw.bin", op.file.data.Bytes()), where);
            } else {
                ok = hfs.PutMacBinary({{op.name, op.file.type, op.file.creator, 0, 0, 0, op.file.data.Bytes(),
                                        op.file.rsrc.Bytes()}},
                                      path);
            }
            break;
        case WriteOp::CreateFolder: ok = hfs.Mkdir(where); break;
        case WriteOp::Rename: ok = hfs.Run("hrename", {where, JoinMacPath(path, op.newName)}).exitCode == 0; break;
        case WriteOp::SetType: ok = hfs.SetTypeCreator(where, op.file.type, op.file.creator); break;
        case WriteOp::DeleteFile: ok = hfs.Delete({where}); break;
        case WriteOp::DeleteFolder: ok = hfs.Run("hrmdir", {where}).exitCode == 0; break;
        }
        EXPECT_TRUE(ok) << "theirs: " << op.kind << " " << where << ": " << hfs.LastError();
        if (ok) model.Apply(op, 0);
        return "theirs " + std::to_string(op.kind) + " " + where;
    }

    std::mt19937 rng{0x5EED};
    ShadowVolume model;
};

TEST_F(MixedWithHfsUtils, EachSideReadsAndChangesWhatTheOtherWrote)
{
    const std::string path = dir.PathOf("mixed.img");
    ASSERT_TRUE(hfs.Format(path, "Mixed", 4 * 1024 * 1024)) << hfs.LastError();
    ASSERT_TRUE(hfs.Mkdir(":From hfsutils"));
    ASSERT_GE(Open(path), 0);
    ASSERT_TRUE(model.LoadFromEngine());
    CloseMacDrive();

    const unsigned rounds = 60;
    for (unsigned round = 0; round < rounds; ++round) {
        // A few changes of ours, checked by hfsutils.
        ASSERT_GE(Open(path), 0);
        std::string why;
        ASSERT_TRUE(ResolveFolderIds(&model, &why)) << why;
        std::string trace;
        const unsigned ours = 1 + rng() % 3;
        for (unsigned i = 0; i < ours; ++i) trace += OneChange(true) + "\n";
        EXPECT_TRUE(VolumeIsClean(&why)) << trace << why;
        CloseMacDrive();
        EXPECT_TRUE(HfsUtilsMatches(hfs, model, round % 10 == 9, 3, &why)) << "round " << round << "\n" << trace << why;

        // A few of theirs, checked by us.
        trace.clear();
        const unsigned theirs = 1 + rng() % 3;
        for (unsigned i = 0; i < theirs; ++i) trace += OneChange(false) + "\n";
        ASSERT_GE(Open(path), 0);
        EXPECT_TRUE(VolumeIsClean(&why)) << "round " << round << " after hfsutils:\n" << trace << why;
        EXPECT_TRUE(EngineMatches(model, round % 5 == 4, &why)) << "round " << round << "\n" << trace << why;
        CloseMacDrive();
        if (HasFailure()) return;
    }
    ASSERT_GE(Open(path), 0);
    std::string why;
    EXPECT_TRUE(EngineMatches(model, true, &why)) << why;
    CloseMacDrive();
    EXPECT_TRUE(HfsUtilsMatches(hfs, model, true, 1, &why)) << why;
}

// Every run of blocks the drive writes: a failed command writes only blocks
// that were free at the last flush.
DriveTransferOp g_driveWrite = nullptr;
std::vector<std::pair<uint32_t, uint16_t>> g_writtenRuns;

int32_t RecordedWrite(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    g_writtenRuns.emplace_back(first, count);
    return g_driveWrite(buffer, count, first, entry);
}

bool LongRun()
{
    const char* v = std::getenv("QUAYLINK_LONG");
    return v && std::strcmp(v, "1") == 0;
}

std::vector<uint32_t> Seeds(std::vector<uint32_t> normal, std::vector<uint32_t> extra)
{
    if (const char* v = std::getenv("QUAYLINK_SEED")) return {static_cast<uint32_t>(std::strtoul(v, nullptr, 0))};
    if (LongRun()) normal.insert(normal.end(), extra.begin(), extra.end());
    return normal;
}

struct Profile {
    const char* label;
    uint64_t volumeBytes;
    unsigned crowdEntries;       // entries made in the crowded folder
    unsigned mixedOps;           // random operations all over the tree
    unsigned deepDepth;          // depth the deep trees reach
    unsigned fullEvents;         // disk-full failures to reach
    uint32_t largeFile;          // the largest file of the mixed phase
    uint32_t fillFile;           // the largest file of the fill phase
    unsigned checkEvery;         // flushes between checks
    unsigned compareEvery;       // operations between reopens compared with the model (0: none)
    unsigned drainPercent;       // share of the crowded folder deleted again, in random order
    unsigned fragmentFiles;      // one-block files made, then every other deleted
    double freeAfterFill = 0.3;  // share of the volume made free after the fill phase
    bool hfsutilsBytes = true;   // false: hfsutils lists the tree at the end but copies nothing out
};

struct Stats {
    unsigned ops = 0;
    uint16_t catalogDepth = 0;
    unsigned catalogMapNodes = 0;
};

class WriteSequences : public WriteFaults {
protected:
    void SetUp() override
    {
        WriteFaults::SetUp();
        SetWindowSystem(&ws_);
    }

    bool Open()
    {
        if (!OpenImageAsMacDrive(path_.c_str(), true) || !OpenListedVolume(0)) {
            ADD_FAILURE() << "cannot open the volume: status " << StatusCode;
            return false;
        }
        slot_ = static_cast<int>(DriveTable[MacDriveIndex].Unit);
        g_driveWrite = DriveTable[MacDriveIndex].WriteSectors;
        DriveTable[MacDriveIndex].WriteSectors = RecordedWrite;
        g_writtenRuns.clear();
        return ImageTable[slot_].used;
    }

    uint32_t FreeBlocks() const { return GetU16(MacVolume.mdb->data + kMdbFreeBlocks); }
    uint32_t AllocBytes() const { return uint32_t{MacVolume.allocBlockSize} * 512; }

    void ExpectOnlyFreeBlocksWritten()
    {
        unsigned wrong = 0;
        for (const auto& [first, count] : g_writtenRuns) {
            for (uint32_t b = first; b < first + count; ++b) {
                const uint32_t v = b - MacVolume.partitionStart;
                const bool inArea = v >= MacVolume.firstAllocBlock &&
                                    (v - MacVolume.firstAllocBlock) / MacVolume.allocBlockSize < VolumeAllocBlockCount();
                const bool free = inArea && !AllocationBlockUsed(static_cast<uint16_t>(
                                                (v - MacVolume.firstAllocBlock) / MacVolume.allocBlockSize));
                if (!free && ++wrong <= 5) ADD_FAILURE() << "block " << b << " was written by a command that failed";
            }
        }
    }

    void TakeSnapshot()
    {
        freeAtFlush_ = FreeBlocks();
        g_writtenRuns.clear();
    }

    // How far the catalog has grown: its depth and its chain of map nodes.
    void RecordShape()
    {
        const uint8_t* cat = MacVolume.catalogHeader->data;
        stats_.catalogDepth = std::max(stats_.catalogDepth, GetU16(cat + kHeaderDepth));
        unsigned maps = 0;
        for (uint32_t next = NodeForwardLink(MacVolume.catalogHeader); next != 0 && maps < 100; ++maps) {
            BlockBuffer* node = nullptr;
            if (ReadForkNode(&node, next, kDataFork, &MacVolume.catalogFile) < 1) break;
            next = NodeForwardLink(node);
        }
        StatusCode = 0;
        stats_.catalogMapNodes = std::max(stats_.catalogMapNodes, maps);
    }

    // The checker finds nothing, or (on a volume that came with problems)
    // nothing it did not find before the first write.
    void Check(const char* when)
    {
        std::vector<std::string> problems;
        CheckVolume(&problems);
        std::string fresh;
        unsigned count = 0;
        for (const std::string& p : problems)
            if (!knownProblems_.count(p) && ++count <= 12) fresh += p + "\n";
        EXPECT_EQ(count, 0u) << when << " (op " << stats_.ops << "):\n" << fresh;
        RecordShape();
    }

    void Compare(bool bytes)
    {
        std::string why;
        EXPECT_TRUE(EngineMatches(model_, bytes, &why)) << "op " << stats_.ops << ":\n" << why;
    }

    // Closes and opens the image again, so that nothing the cache holds can
    // hide what the medium holds.
    void Reopen(bool bytes)
    {
        CloseMacDrive();
        ASSERT_TRUE(Open());
        Check("after a fresh open");
        Compare(bytes);
    }

    // Runs `op` as one command and checks its outcome against the model.
    // Returns the command's status.
    uint32_t Run(const WriteOp& op)
    {
        ++stats_.ops;
        const uint32_t expected = model_.Expect(op);
        const uint64_t opBytes =
            op.kind == WriteOp::CreateFile ? uint64_t{op.file.data.size} + op.file.rsrc.size : 0;
        const uint32_t freeBefore = FreeBlocks();
        const int messagesBefore = ws_.messageCount;
        uint32_t newId = 0;
        uint32_t status = RunEngineOp(&model_, op, &newId);
        status = EndCommand(status);
        EXPECT_EQ(StatusCode, 0u);
        if (status == 0) {
            EXPECT_EQ(ws_.messageCount, messagesBefore) << "a command that succeeded showed a message";
            EXPECT_EQ(expected, 0u) << "op " << stats_.ops << " on " << op.folder->Path() << " \"" << op.name
                                    << "\" should have failed";
            model_.Apply(op, newId);
            if (++sinceCheck_ >= profile_.checkEvery) {
                sinceCheck_ = 0;
                Check("after a flush");
            }
            TakeSnapshot();
            return 0;
        }
        // The report showed the failure's message once.
        char message[96];
        StatusMessage(status, message, sizeof message);
        EXPECT_STREQ(ws_.lastText, message);
        EXPECT_EQ(ws_.messageCount, messagesBefore + 1);
        if (status == kStatusDiskFull) {
            const uint64_t needed = (opBytes + AllocBytes() - 1) / AllocBytes() +
                                    GetU32(MacVolume.mdb->data + kMdbCatalogClump) / AllocBytes() +
                                    GetU32(MacVolume.mdb->data + kMdbExtentsClump) / AllocBytes() + 4;
            const bool extentsStuck = GetU16(MacVolume.mdb->data + kMdbExtentsExtents + 10) != 0;
            EXPECT_TRUE(needed > freeBefore || extentsStuck)
                << "disk full with " << freeBefore << " free blocks for " << opBytes << " bytes";
        } else {
            EXPECT_EQ(status, expected) << "op " << stats_.ops << " kind " << op.kind << " on " << op.folder->Path()
                                        << " \"" << op.name << "\" -> \"" << op.newName << "\"";
        }
        // The discard brought back the state of the last flush.
        EXPECT_EQ(FreeBlocks(), freeAtFlush_);
        ExpectOnlyFreeBlocksWritten();
        Check("after a discard");
        if (status == kStatusDiskFull) Compare(false);
        return status;
    }

    std::string RandomName(unsigned minLength = 1, unsigned maxLength = 31)
    {
        static const std::string kAlphabet = [] {
            std::string a;
            for (int c = 0x20; c < 0x7F; ++c)
                if (c != ':' && !HasHfsGlobCharacter(std::string(1, static_cast<char>(c)))) a += static_cast<char>(c);
            // Some Mac letters above 0x7F, upper and lower case.
            for (int c : {0x80, 0x83, 0x85, 0x87, 0x8A, 0x8E, 0x96, 0x9A, 0xA7, 0xAE, 0xBF, 0xCB, 0xD8})
                a += static_cast<char>(c);
            return a;
        }();
        const unsigned length = minLength + rng_() % (maxLength - minLength + 1);
        std::string name;
        for (unsigned i = 0; i < length; ++i) name += kAlphabet[rng_() % kAlphabet.size()];
        return name;
    }

    // An existing name of the folder written in other letter case: a clash.
    std::string ClashingName(const ShadowNode* folder)
    {
        if (folder->children.empty()) return RandomName();
        auto it = folder->children.begin();
        std::advance(it, static_cast<long>(rng_() % folder->children.size()));
        std::string name = it->first;
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        }
        return name;
    }

    std::string RandomCode()
    {
        std::string code;
        for (int i = 0; i < 4; ++i) code += static_cast<char>(0x20 + rng_() % 0x5F);
        return code;
    }

    uint32_t RandomSize(uint32_t largest)
    {
        const unsigned pick = rng_() % 100;
        const uint32_t limit =
            std::min(pick < 20 ? 0 : pick < 45 ? 1024 : pick < 70 ? 16384 : pick < 90 ? 262144 : largest, largest);
        return limit == 0 ? 0 : static_cast<uint32_t>(rng_() % (limit + 1));
    }

    ShadowFile RandomFile(uint32_t largest)
    {
        ShadowFile f{RandomCode(), RandomCode(), {}, {}};
        f.data = ShadowFork{static_cast<uint32_t>(rng_()) | 1u, RandomSize(largest), nullptr};
        f.rsrc = ShadowFork{static_cast<uint32_t>(rng_()) | 1u, rng_() % 2 ? RandomSize(largest / 4) : 0, nullptr};
        return f;
    }

    WriteOp CreateFile(ShadowNode* folder, uint32_t largest, const std::string& name)
    {
        WriteOp op = MakeWriteOp(WriteOp::CreateFile, folder, name);
        op.file = RandomFile(largest);
        op.created = rng_() % 4 ? 0 : 0xB0000000u + rng_() % 0x10000000u;
        op.chunkSeed = static_cast<uint32_t>(rng_());
        return op;
    }

    // One random operation in `folder`.
    WriteOp RandomOp(ShadowNode* folder, uint32_t largest)
    {
        const unsigned pick = rng_() % 100;
        WriteOp op;
        op.folder = folder;
        auto randomChild = [&](bool wantFolder) -> ShadowNode* {
            std::vector<ShadowNode*> fit;
            for (auto& [n, child] : folder->children)
                if (child->folder == wantFolder) fit.push_back(child.get());
            return fit.empty() ? nullptr : fit[rng_() % fit.size()];
        };
        if (pick < 35) return CreateFile(folder, largest, pick < 3 ? ClashingName(folder) : RandomName());
        if (pick < 47) {
            op.kind = WriteOp::CreateFolder;
            op.name = pick == 35 ? ClashingName(folder) : pick == 36 ? (rng_() % 2 ? "" : "Bad:name") : RandomName();
            return op;
        }
        if (pick < 60) {
            ShadowNode* item = rng_() % 3 ? randomChild(false) : randomChild(true);
            if (!item) return CreateFile(folder, largest, RandomName());
            op.kind = WriteOp::Rename;
            op.name = item->name;
            const unsigned how = rng_() % 10;
            if (how == 0) {
                op.newName = ClashingName(folder);
            } else if (how == 1) {
                // The same name in other letters: allowed.
                op.newName = item->name;
                for (char& c : op.newName)
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            } else {
                op.newName = RandomName();
            }
            return op;
        }
        if (pick < 68) {
            ShadowNode* item = randomChild(false);
            if (!item) return CreateFile(folder, largest, RandomName());
            op.kind = WriteOp::SetType;
            op.name = item->name;
            op.file.type = RandomCode();
            op.file.creator = RandomCode();
            return op;
        }
        if (pick < 90) {
            ShadowNode* item = randomChild(false);
            if (!item) return CreateFile(folder, largest, RandomName());
            op.kind = WriteOp::DeleteFile;
            op.name = item->name;
            return op;
        }
        ShadowNode* item = randomChild(true);
        if (!item) return CreateFile(folder, largest, RandomName());
        op.kind = WriteOp::DeleteFolder;
        op.name = item->name;
        return op;
    }

    // Thousands of entries in one folder: a catalog of several index levels
    // that grows its file and its node map.
    void Crowd()
    {
        if (profile_.crowdEntries == 0) return;
        ASSERT_EQ(Run(MakeWriteOp(WriteOp::CreateFolder, model_.Root(), "Crowd")), 0u);
        ShadowNode* crowd = model_.Find(":Crowd");
        ASSERT_NE(crowd, nullptr);
        unsigned guard = 0;
        while (crowd->children.size() < profile_.crowdEntries && ++guard < profile_.crowdEntries * 3) {
            const unsigned pick = rng_() % 100;
            Run(pick < 80   ? CreateFile(crowd, 2048, RandomName(20, 31))
                : pick < 85 ? MakeWriteOp(WriteOp::CreateFolder, crowd, RandomName(20, 31))
                            : RandomOp(crowd, 2048));
            if (HasFatalFailure() || HasFailure()) return;
        }
        Check("after the crowded folder");
        Compare(false);
    }

    // Deletes `percent` of the crowded folder's entries in random order: the
    // catalog shrinks back, leaves are emptied and levels collapse.
    void Drain()
    {
        ShadowNode* crowd = model_.Find(":Crowd");
        if (!crowd || profile_.drainPercent == 0) return;
        std::vector<WriteOp> deletes;
        for (auto& [name, child] : crowd->children) {
            if (child->folder && !child->children.empty()) continue;
            deletes.push_back(MakeWriteOp(child->folder ? WriteOp::DeleteFolder : WriteOp::DeleteFile, crowd, name));
        }
        std::shuffle(deletes.begin(), deletes.end(), rng_);
        deletes.resize(deletes.size() * profile_.drainPercent / 100);
        for (const WriteOp& op : deletes) {
            Run(op);
            if (HasFailure()) return;
        }
        Check("after draining the crowded folder");
        Compare(false);
    }

    void Fragment()
    {
        if (profile_.fragmentFiles == 0) return;
        if (Run(MakeWriteOp(WriteOp::CreateFolder, model_.Root(), "Fragments")) != 0) return;
        ShadowNode* frag = model_.Find(":Fragments");
        ASSERT_NE(frag, nullptr);
        std::vector<std::string> names;
        for (unsigned i = 0; i < profile_.fragmentFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Piece %05u", i);
            WriteOp op = CreateFile(frag, 0, name);
            op.file.data.size = AllocBytes();
            op.file.rsrc.size = 0;
            if (Run(op) != 0) break;
            names.push_back(name);
            if (HasFailure()) return;
        }
        for (size_t i = 1; i < names.size(); i += 2) {
            Run(MakeWriteOp(WriteOp::DeleteFile, frag, names[i]));
            if (HasFailure()) return;
        }
        std::vector<std::string> big;
        for (int i = 0; i < 6; ++i) {
            const uint64_t free = uint64_t{FreeBlocks()} * AllocBytes();
            WriteOp op = CreateFile(frag, 0, "Scattered " + std::to_string(i));
            op.file.data.size = static_cast<uint32_t>(free / 4);
            op.file.rsrc.size = static_cast<uint32_t>(free / 8);
            if (i % 2 == 0) {
                op.file.data.size = op.file.rsrc.size = static_cast<uint32_t>(free / 3);
                op.chunkBytes = AllocBytes();
            }
            const uint32_t status = Run(op);
            if (HasFailure()) return;
            RecordShape();
            if (status == 0) big.push_back(op.name);
        }
        Check("after fragmenting");
        Compare(true);
        // Deleting them removes hundreds of overflow records.
        for (const std::string& name : big) {
            Run(MakeWriteOp(WriteOp::DeleteFile, frag, name));
            if (HasFailure()) return;
        }
        for (size_t i = 0; i < names.size(); i += 2) {
            if (rng_() % 3 == 0) continue;  // some stay behind
            Run(MakeWriteOp(WriteOp::DeleteFile, frag, names[i]));
            if (HasFailure()) return;
        }
        Check("after removing the fragments");
        Compare(false);
    }

    // Chains of folders, with files on the way down.
    void Deep()
    {
        if (profile_.deepDepth == 0) return;
        for (int tree = 0; tree < 3; ++tree) {
            ShadowNode* at = model_.Root();
            for (unsigned level = 0; level < profile_.deepDepth; ++level) {
                const WriteOp op = MakeWriteOp(WriteOp::CreateFolder, at, RandomName(1, 12));
                if (Run(op) != 0) continue;
                at = at->children.at(op.name).get();
                if (rng_() % 3 == 0) Run(CreateFile(at, 8192, RandomName()));
                if (HasFailure()) return;
            }
        }
    }

    ShadowNode* PickFolder()
    {
        std::vector<ShadowNode*> folders = model_.Folders();
        // Deep folders and the root are picked more often than their share.
        if (rng_() % 4 == 0) return model_.Root();
        if (rng_() % 3 == 0) {
            std::sort(folders.begin(), folders.end(),
                      [](const ShadowNode* a, const ShadowNode* b) { return a->Depth() > b->Depth(); });
            folders.resize(std::min<size_t>(folders.size(), 8));
        }
        return folders[rng_() % folders.size()];
    }

    void Mixed()
    {
        std::vector<ShadowNode*> folders = model_.Folders();
        for (unsigned i = 0; i < profile_.mixedOps; ++i) {
            if (i % 50 == 0) folders = model_.Folders();
            ShadowNode* folder = rng_() % 4 == 0 ? model_.Root() : folders[rng_() % folders.size()];
            // The folder may have gone since the list was made.
            if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folder = model_.Root();
            const uint32_t status = Run(RandomOp(folder, profile_.largeFile));
            if (status == kStatusDiskFull) DeleteLargest(0.25);
            // A deleted folder leaves a dangling pointer in the list.
            folders = model_.Folders();
            if (HasFailure()) return;
            if (profile_.compareEvery && stats_.ops % profile_.compareEvery == 0) {
                Reopen(false);
                if (HasFailure()) return;
            }
        }
    }

    // Big files until the disk is full, then deletes to make room, and again.
    void Fill()
    {
        unsigned guard = 0;
        unsigned events = 0;
        while (events < profile_.fullEvents && ++guard < 2000) {
            ShadowNode* folder = PickFolder();
            WriteOp op = CreateFile(folder, profile_.fillFile, RandomName());
            if (rng_() % 2) op.file.data.size = profile_.fillFile / 2 + rng_() % (profile_.fillFile / 2);
            if (rng_() % 4 == 0) op = MakeWriteOp(WriteOp::CreateFolder, folder, RandomName(20, 31));
            const uint32_t status = Run(op);
            if (HasFailure()) return;
            if (status != kStatusDiskFull) continue;
            ++events;
            DeleteLargest(1.0, 1 + rng_() % 4);  // a few, to make some room
        }
        EXPECT_EQ(events, profile_.fullEvents) << "the disk never filled";
    }

    // Deletes the largest files, at most `most`, until `share` of the volume is free.
    void DeleteLargest(double share, size_t most = SIZE_MAX)
    {
        std::vector<ShadowNode*> files = model_.Files();
        std::sort(files.begin(), files.end(), [](const ShadowNode* a, const ShadowNode* b) {
            return uint64_t{a->file.data.size} + a->file.rsrc.size > uint64_t{b->file.data.size} + b->file.rsrc.size;
        });
        files.resize(std::min(files.size(), most));
        std::vector<WriteOp> deletes;
        for (const ShadowNode* f : files) deletes.push_back(MakeWriteOp(WriteOp::DeleteFile, f->parent, f->name));
        for (const WriteOp& del : deletes) {
            if (FreeBlocks() >= share * VolumeAllocBlockCount() || HasFailure()) return;
            Run(del);
        }
    }

    // A volume to start from instead of an empty one.
    struct Source {
        std::string path;
        bool gzipped = false;
        int partition = 0;          // for hfsutils: the partition of a partitioned image
        bool hfsutils = true;       // false: hfsutils cannot read the image (DiskCopy 4.2)
    };

    void RunProfile(const Profile& profile, uint32_t seed, bool formatOurselves = false, const Source* source = nullptr)
    {
        profile_ = profile;
        rng_.seed(seed);
        SCOPED_TRACE(std::string(profile.label) + ", seed " + std::to_string(seed));
        path_ = dir.PathOf("volume.img");
        if (source && source->gzipped) {
            CommandOptions options;
            options.outFile = path_;
            ASSERT_EQ(RunCommand({"gunzip", "-c", source->path}, options).exitCode, 0);
        } else if (source) {
            dir.WriteFile("volume.img", ReadFileBytes(source->path));
        } else if (formatOurselves) {
            // Our own empty diskette, with its Desktop file.
            std::remove(path_.c_str());
            ASSERT_TRUE(CreateDisketteImage(path_.c_str()));
            OpenImageAsMacDrive(path_.c_str(), true);
            ASSERT_EQ(DriveCount, 1u);
            ASSERT_TRUE(SetVolumeLabel("Seq Vol"));
            StatusCode = 0;
            WriteEmptyVolume(&DriveTable[0]);
            ASSERT_EQ(StatusCode, 0u);
            CloseMacDrive();
        } else {
            ASSERT_TRUE(hfs.Format(path_, "Seq Vol", profile.volumeBytes)) << hfs.LastError();
        }
        ASSERT_TRUE(Open());
        std::string why;
        ASSERT_TRUE(model_.LoadFromEngine(&why)) << why;
        knownProblems_.clear();
        if (source) {
            std::vector<std::string> problems;
            CheckVolume(&problems);
            knownProblems_.insert(problems.begin(), problems.end());
        }
        Check("before the first write");
        TakeSnapshot();

        Crowd();
        if (!HasFailure()) Drain();
        if (!HasFailure()) Fragment();
        if (!HasFailure()) Deep();
        if (!HasFailure()) Mixed();
        if (!HasFailure()) Fill();
        if (!HasFailure()) DeleteLargest(profile_.freeAfterFill);
        if (!HasFailure()) Mixed();
        if (HasFailure()) return;
        Check("at the end");
        Reopen(true);
        CloseMacDrive();
        if (!source || source->hfsutils) {
            ASSERT_TRUE(hfs.MountCopy(path_, source ? source->partition : 0)) << hfs.LastError();
            EXPECT_TRUE(HfsUtilsMatches(hfs, model_, profile.hfsutilsBytes, LongRun() ? 1 : 25, &why)) << why;
        }
    }

    Profile profile_{};
    Stats stats_;
    std::mt19937 rng_;
    std::string path_;
    int slot_ = -1;
    ShadowVolume model_;
    uint32_t freeAtFlush_ = 0;
    std::set<std::string> knownProblems_;  // problems a corpus volume came with
    HeadlessWindowSystem ws_;
    unsigned sinceCheck_ = 0;
};

// A diskette: checked after every flush, filled again and again; made by
// hformat, and made by our formatter (odd seeds).
TEST_F(WriteSequences, DisketteUntilFull)
{
    const bool longRun = LongRun();
    for (uint32_t seed : Seeds({11, 12}, {13, 14})) {
        stats_ = Stats{};
        model_ = ShadowVolume{};
        const bool ours = seed % 2 == 0;
        Profile profile{"1.44 MB", 1474560, longRun ? 600u : 250u, longRun ? 3000u : 600u, 20, longRun ? 12u : 4u,
                        300 * 1024, 700 * 1024, 1, longRun ? 100u : 200u, 80, longRun ? 1600u : 500u};
        if (ours && !longRun) {
            profile.crowdEntries = 120;
            profile.mixedOps = 300;
            profile.fragmentFiles = 0;
        }
        RunProfile(profile, seed, ours);
        CloseMacDrive();
        if (HasFailure()) return;
    }
}

// 100 MB: one folder of thousands of entries (several index levels and map
// nodes in the catalog), deep trees, files of several MB, until full.
TEST_F(WriteSequences, HundredMegabytesCrowdedAndFull)
{
    const bool longRun = LongRun();
    for (uint32_t seed : Seeds({21}, {22, 23})) {
        stats_ = Stats{};
        model_ = ShadowVolume{};
        const Profile profile{"100 MB", 100ull * 1024 * 1024, longRun ? 12000u : 6000u, longRun ? 4000u : 800u,
                              40, longRun ? 6u : 2u, 6 * 1024 * 1024, 12 * 1024 * 1024, longRun ? 100u : 400u,
                              longRun ? 1000u : 0u, 50, longRun ? 8000u : 0u};
        RunProfile(profile, seed);
        EXPECT_GE(stats_.catalogMapNodes, 1u) << "the crowded folder did not grow the node map";
        EXPECT_GE(stats_.catalogDepth, 3u);
        CloseMacDrive();
        if (HasFailure()) return;
    }
}

// 1 GB: allocation blocks of 16 KB (32 blocks each), 65,535 of them, a
// bitmap of 16 blocks, files of up to 200 MB, filled to the last block.
TEST_F(WriteSequences, OneGigabyteLargeAllocationBlocks)
{
    const bool longRun = LongRun();
    for (uint32_t seed : Seeds({31}, {32})) {
        stats_ = Stats{};
        model_ = ShadowVolume{};
        Profile profile{"1 GB", 1024ull * 1024 * 1024, longRun ? 3000u : 300u, longRun ? 2000u : 200u, 10, 1,
                        8 * 1024 * 1024, 200 * 1024 * 1024, longRun ? 50u : 200u, 0, 50, 0};
        profile.freeAfterFill = longRun ? 0.5 : 0.95;
        RunProfile(profile, seed);
        CloseMacDrive();
        if (HasFailure()) return;
    }
}

TEST_F(WriteSequences, CorpusVolumesTakeChanges)
{
    const std::string corpus = QUAYLINK_CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    const bool longRun = LongRun();
    const Source sources[] = {
        {corpus + "/imac/Speed Disk 3.1.3.dsk"},
        {corpus + "/imac/System 6.0.8 - System Startup.img"},
        {corpus + "/opf/JW_disk9_hfstest_9.img"},
        {corpus + "/cp2/simple-gsos.po"},
        {corpus + "/cp2/simple-linux.po"},
        {corpus + "/cp2/apm-prodos-hfs.iso", false, 1},
        {corpus + "/imac/Mac OS 8.1 Disk Tools 68K FD.dsk", false, 0, false},
        {corpus + "/behier/manyExtents.img.gz", true},
        {corpus + "/behier/complex.img.gz", true},
    };
    uint32_t seed = 41;
    for (const Source& source : sources) {
        if (!std::filesystem::exists(source.path)) continue;
        stats_ = Stats{};
        model_ = ShadowVolume{};
        sinceCheck_ = 0;
        const std::string label = std::filesystem::path(source.path).filename().string();
        const bool big = label.rfind("complex", 0) == 0;
        Profile profile{label.c_str(), 0, longRun ? 400u : 60u, longRun ? 1500u : 150u, 12, longRun ? 4u : 2u,
                        200 * 1024, big ? 60u * 1024 * 1024 : 400 * 1024, big ? 50u : 1u, longRun ? 300u : 0u, 50,
                        0};
        // Copying out the 2,000 files of the big one takes hfsutils a minute.
        profile.hfsutilsBytes = longRun || !big;
        RunProfile(profile, seed++, false, &source);
        CloseMacDrive();
        if (HasFailure()) return;
    }
}

TEST_F(WriteSequences, GrowingALargeBTreeFileMapsEveryNewNode)
{
    path_ = dir.PathOf("large.img");
    ASSERT_TRUE(hfs.Format(path_, "Large", 1024ull * 1024 * 1024)) << hfs.LastError();
    ASSERT_TRUE(Open());
    Check("as hformat made it");
    for (ForkRef* tree : {&MacVolume.catalogFile, &MacVolume.extentsFile}) {
        SCOPED_TRACE(tree->fileId == kCatalogFileId ? "catalog" : "extents");
        BlockBuffer* header = tree->fileId == kCatalogFileId ? MacVolume.catalogHeader : MacVolume.extentsHeader;
        const uint32_t before = GetU32(header->data + kHeaderTotalNodes);
        GrowBTreeFile(tree);
        ASSERT_EQ(StatusCode, 0u);
        const uint32_t total = GetU32(header->data + kHeaderTotalNodes);
        ASSERT_GT(total, before + 3936);
        // The map: the header's 2,048 nodes and 3,936 per map node.
        uint32_t mapped = 2048;
        uint32_t last = 0;
        for (uint32_t next = NodeForwardLink(header); next != 0 && mapped < 10 * total;) {
            BlockBuffer* map = nullptr;
            ASSERT_EQ(ReadForkNode(&map, next, kDataFork, tree), 1);
            EXPECT_EQ(NodeType(map), kMapNode) << "node " << next;
            mapped += 3936;
            last = next;
            next = NodeForwardLink(map);
        }
        EXPECT_GE(mapped, total) << "nodes " << mapped << " to " << total - 1 << " are in no map; last map node "
                                 << last;
    }
    EndCommand(0);
    Check("after the growth");
    CloseMacDrive();
    ASSERT_TRUE(Open());
    Check("after a fresh open");
}

}  // namespace
