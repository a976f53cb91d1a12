// Formatting: the packed-block expander, and every failure and Cancel
// point of a format. hfsutils mounts and fills what we format in
// tests/integration/format_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/progress.h"
#include "core/status.h"
#include "disk/image_drive.h"
#include "hfs/format.h"
#include "support/engine_state.h"
#include "support/recording_window.h"
#include "support/temp_image.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kBlock = 512;

// The first `n` blocks a format writes, in block order.
std::vector<uint32_t> FirstWritten(unsigned n)
{
    std::vector<uint32_t> order{0, 1};
    for (uint32_t b = 5; b <= 25; ++b) order.push_back(b);
    for (uint32_t b = 28; b <= 47; ++b) order.push_back(b);
    for (uint32_t b : {2u, 3u, 4u, 26u, 27u, 48u, 2878u}) order.push_back(b);
    order.resize(n);
    std::sort(order.begin(), order.end());
    return order;
}
constexpr unsigned kFormatWrites = 50;

// The blocks in which `after` differs from `before`.
std::vector<uint32_t> ChangedBlocks(const Bytes& before, const Bytes& after)
{
    std::vector<uint32_t> changed;
    for (uint32_t block = 0; block < before.size() / kBlock; ++block)
        if (std::memcmp(before.data() + block * kBlock, after.data() + block * kBlock, kBlock) != 0)
            changed.push_back(block);
    return changed;
}

using FormatTest = EngineStateTest;

TEST_F(FormatTest, UnpackBitsExpandsWithinOneBlockAndRefusesMalformedInput)
{
    Bytes mixed{'a', 'b', 'c', 'x', 'x', 'x', 'z'};
    mixed.resize(7 + 128, 0);
    Bytes oneBlock;
    for (uint8_t i = 0; i < 4; ++i) oneBlock.insert(oneBlock.end(), 128, i);
    struct Case {
        const char* what;
        Bytes packed;
        int result;
        Bytes out;
    };
    const std::vector<Case> cases = {
        {"literals, runs and the no-op byte", {0x02, 'a', 'b', 'c', 0x80, 0xFE, 'x', 0x80, 0x00, 'z', 0x81, 0x00}, 135,
         mixed},
        {"nothing", {}, 0, {}},
        {"only no-op bytes", {0x80, 0x80}, 0, {}},
        {"four runs of 128: one whole block", {0x81, 0, 0x81, 1, 0x81, 2, 0x81, 3}, 512, oneBlock},
        {"literal cut short", {0x05, 'a', 'b'}, -1, {}},
        {"count byte alone", {0x7F}, -1, {}},
        {"run without its byte", {0x81}, -1, {}},
        {"run past the block", {0x81, 1, 0x81, 2, 0x81, 3, 0x81, 4, 0xFF, 5}, -1, {}},
        {"literal past the block", {0x81, 0, 0x81, 0, 0x81, 0, 0x82, 0, 0x01, 'a', 'b'}, -1, {}},  // 511, then 2
        {"one byte too many", {0x81, 9, 0x81, 9, 0x81, 9, 0x81, 9, 0x00, 'x'}, -1, {}},
    };
    for (const Case& c : cases) {
        // The input lives in a heap buffer of exactly its size, so a read
        // past it is caught; the destination has a guard area.
        const Bytes packed(c.packed);
        Bytes out(kBlock + 64, 0xEE);
        EXPECT_EQ(UnpackBits(packed.data(), static_cast<unsigned>(packed.size()), out.data()), c.result) << c.what;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + std::max(c.result, 0)), c.out) << c.what;
        for (size_t i = c.result >= 0 ? size_t(c.result) : kBlock; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xEE) << c.what << " wrote at " << i;
    }
}

TEST_F(FormatTest, AFailedWriteOrCancelAtAnyBlockStopsThere)
{
    const Bytes before = PatternBytes(kDisketteBytes, 7);  // every block differs from a formatted one
    for (const bool cancel : {false, true}) {
        for (unsigned k = 1; k <= kFormatWrites; ++k) {
            SCOPED_TRACE((cancel ? "cancel at pump " : "failing write ") + std::to_string(k));
            ResetEngineState();  // each image takes a drive table entry
            TempImage image(before);
            ASSERT_TRUE(SetVolumeLabel("Untitled"));
            RecordingWindowSystem ws;
            if (cancel) {
                ws.cancelAtPump = k;
            } else {
                image.Slot().faults.failWriteAt = k;
            }
            EXPECT_EQ(image.drive->FormatVolume(image.drive), 1);
            EXPECT_EQ(StatusCode, 0u);
            ASSERT_EQ(ws.messages.size(), cancel ? 1u : 2u);
            EXPECT_EQ(ws.messages.back().text,
                      cancel ? "Formatting will erase all data on diskette!" : "Can not format disk!");
            EXPECT_EQ(ws.messages.back().caption, cancel ? "WARNING!" : "Formatting Error");
            EXPECT_EQ(ws.messages.back().style, cancel ? kMbOkCancel | kMbIconExclamation : kMbOk | kMbIconStop);
            EXPECT_EQ(ws.pumps, k);
            EXPECT_EQ(ws.progressClosed, 1u);
            EXPECT_EQ(ProgressWindow, nullptr);
            EXPECT_TRUE(WaitCursorEnabled);
            EXPECT_EQ(image.Slot().faults.writes, k);
            EXPECT_EQ(ChangedBlocks(before, ReadFileBytes(image.path)), FirstWritten(cancel ? k : k - 1));
        }
    }
}

}  // namespace
