// Failing device writes, a read-only volume, and one image changed by
// hfsutils and by us in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/catalog_ops.h"
#include "hfs/fork_io.h"
#include "hfs/volume.h"
#include "support/engine_state.h"
#include "support/engine_tree.h"
#include "support/hfsutils_driver.h"
#include "support/recording_window.h"
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
        ShadowFile f;
        f.type = "BINA";
        f.creator = "qlnk";
        f.data = ShadowFork{seed, data, nullptr};
        f.rsrc = ShadowFork{seed + 1, rsrc, nullptr};
        return f;
    }

    TempDir dir;
    HfsUtils hfs;
};

// The commands of the run, one per step, built against the model as it
// stands when the step comes.
std::vector<WriteOp> FaultSteps(ShadowVolume& model, unsigned step)
{
    ShadowNode* root = model.Root();
    auto make = [&](WriteOp::Kind kind, ShadowNode* folder, const std::string& name) {
        WriteOp op;
        op.kind = kind;
        op.folder = folder;
        op.name = name;
        return op;
    };
    switch (step) {
    case 0:
        return {make(WriteOp::CreateFolder, root, "Fault Folder")};
    case 1: {
        WriteOp op = make(WriteOp::CreateFile, root->children.at("Fault Folder").get(), "Hundred KB");
        op.file.type = "BINA";
        op.file.creator = "qlnk";
        op.file.data = ShadowFork{71, 100 * 1024, nullptr};
        op.file.rsrc = ShadowFork{72, 9000, nullptr};
        op.chunkSeed = 5;
        return {op};
    }
    case 2: {
        WriteOp op = make(WriteOp::Rename, root->children.at("Fault Folder").get(), "Hundred KB");
        op.newName = "Renamed after writing";
        return {op};
    }
    case 3: {
        // Enough records to split a leaf or two of the crowded root.
        std::vector<WriteOp> ops;
        for (int i = 0; i < 6; ++i) {
            WriteOp op = make(WriteOp::CreateFile, root, "Later file " + std::to_string(i));
            op.file.data = ShadowFork{static_cast<uint32_t>(80 + i), static_cast<uint32_t>(700 * i), nullptr};
            ops.push_back(op);
        }
        return ops;
    }
    case 4:
        return {make(WriteOp::DeleteFile, root->children.at("Fault Folder").get(), "Renamed after writing")};
    case 5:
        return {make(WriteOp::DeleteFile, root, "Filler 03"), make(WriteOp::DeleteFile, root, "Filler 04")};
    case 6:
        return {make(WriteOp::DeleteFolder, root, "Fault Folder")};
    case 7: {
        // Long names until the catalog file grows by a clump.
        std::vector<WriteOp> ops;
        for (int i = 0; i < 40; ++i)
            ops.push_back(make(WriteOp::CreateFolder, root, "A folder with a long name " + std::to_string(100 + i)));
        return ops;
    }
    default:
        return {};
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

    struct Case {
        const char* what;
        bool withData;
    };
    for (const Case& c : {Case{"a folder, refused at the flush", false}, Case{"a file, refused at its first data write", true}}) {
        SCOPED_TRACE(c.what);
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

        WriteOp op = MakeWriteOp(c.withData ? WriteOp::CreateFile : WriteOp::CreateFolder, model.Root(), "Never");
        if (c.withData) op.file = File(3, 5000, 0);
        uint32_t status = RunEngineOp(&model, op, nullptr);
        if (c.withData) {
            EXPECT_EQ(status, kStatusReadOnly) << "the data write";
        }
        status = EndCommand(status);
        EXPECT_EQ(status, kStatusReadOnly);
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
    ShadowNode* RandomFolder()
    {
        std::vector<ShadowNode*> folders = model.Folders();
        return folders[rng() % folders.size()];
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
    ShadowFile RandomFile()
    {
        const uint32_t sizes[] = {0, 1, 511, 512, 513, 4000, 70000, 300000};
        return File(static_cast<uint32_t>(rng()) | 1u, sizes[rng() % 8], rng() % 2 ? sizes[rng() % 6] : 0);
    }

    // One random change. Ours run as commands on the open volume; theirs
    // with the volume closed. Returns a text for the trace.
    std::string OneChange(bool ours)
    {
        ShadowNode* folder = RandomFolder();
        const std::string path = folder->Path();
        WriteOp op;
        op.folder = folder;
        const unsigned pick = rng() % 100;
        if (pick < 30) {
            op.kind = WriteOp::CreateFile;
            op.name = FreeName(folder);
            op.file = RandomFile();
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
                MacFileImage image;
                image.name = op.name;
                image.type = op.file.type;
                image.creator = op.file.creator;
                image.data = op.file.data.Bytes();
                image.rsrc = op.file.rsrc.Bytes();
                ok = hfs.PutMacBinary({image}, path);
            }
            break;
        case WriteOp::CreateFolder:
            ok = hfs.Mkdir(where);
            break;
        case WriteOp::Rename:
            ok = hfs.Run("hrename", {where, JoinMacPath(path, op.newName)}).exitCode == 0;
            break;
        case WriteOp::SetType:
            ok = hfs.SetTypeCreator(where, op.file.type, op.file.creator);
            break;
        case WriteOp::DeleteFile:
            ok = hfs.Delete({where});
            break;
        case WriteOp::DeleteFolder:
            ok = hfs.Run("hrmdir", {where}).exitCode == 0;
            break;
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

}  // namespace
