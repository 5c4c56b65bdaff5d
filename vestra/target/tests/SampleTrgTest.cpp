// The sample descriptions in TRG/ are what the simulator, the demos and the
// system tests plug; these checks keep them loadable and self-consistent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "target/TrgFile.h"
#include "target/TrgReader.h"
#include "target/TrgSearch.h"

namespace vestra::target {
namespace {

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr uint8_t kWriterIdBits = 93;

struct Expected {
    Ranges ranges;
    uint32_t blockSize;
    uint32_t reservedSize2;
    uint32_t secType;
    uint32_t idBits;
};

const std::map<std::string, Expected>& expectedSamples() {
    static const std::map<std::string, Expected> samples = {
        {"KT51456", {{{0x0, 0xFDFF}}, 0x2000, 512, 0, 64}},
        {"KT4351235", {{{0x0, 0xFFF}, {0x1100, 0x7FFF}, {0xA000, 0xBFFF}, {0xC400, 0x17DFF}}, 0x2000, 512, 1, 64}},
        {"KT430735", {{{0x0, 0x7FF7F}}, 0x8000, 128, 0, 93}},
        {"KT430A2B", {{{0x0, 0x3FFF}, {0x6000, 0xEFDF}}, 0x1000, 32, 1, 64}},
    };
    return samples;
}

// The chip name the writer composes from product ID word 0.
std::string chipName(uint32_t word0) {
    static const char* const prefixes[] = {"KT430", "KT51", "KT3", "KT4", "KT2", "KT435", "KT431", "KT440"};
    const uint32_t model = word0 >> 24;
    std::string name = model < 8 ? prefixes[model] : "KT430";
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X%X%X", (word0 >> 12) & 0xF, (word0 >> 8) & 0xF, (word0 >> 4) & 0xF);
    name += digits;
    if ((word0 & 0xF) != 0) name += "0123456789ABCDEF"[word0 & 0xF];
    return name;
}

// Block count as identification computes it, and as the device object does.
uint32_t identificationBlockCount(const CTargetInfo& info) {
    const uint32_t low = (info.targetId32 >> 8) & 0xF;
    return isExtendedIdFormat(info.targetId00) ? low | (((info.targetId64 >> 4) & 0xF) << 4) : low;
}
uint32_t deviceBlockCount(const CTargetInfo& info) {
    const uint32_t low = (info.targetId32 >> 8) & 0xF;
    return info.targetIdBitNum != 64 ? low | (((info.targetId64 >> 4) & 0xF) << 4) : low;
}

bool inSomeRange(const CTargetInfo& info, uint32_t address) {
    return std::any_of(info.area, info.area + info.areaNum,
                       [&](const CTargetArea& a) { return a.startAdrs <= address && address <= a.endAdrs; });
}

class SampleTrgTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The shipped samples, and two that the reader must skip: one not
        // enabled, one with a product ID wider than the writer's.
        files_ = listTrgFiles(VESTRA_SAMPLE_TRG_DIR "/");
        const std::vector<std::string> skipped = listTrgFiles(VESTRA_SKIPPED_TRG_DIR "/");
        files_.insert(files_.end(), skipped.begin(), skipped.end());
        set_ = readTargetInfoSet(files_, kWriterIdBits, &found_);
        ASSERT_NE(set_, nullptr);
    }
    void TearDown() override { deleteTargetInfoSet(&set_); }

    std::vector<std::string> files_;
    TRGINFO* set_ = nullptr;
    uint16_t found_ = 0;
};

TEST_F(SampleTrgTest, EnabledSamplesWithinTheWritersIdWidthAreAccepted) {
    EXPECT_EQ(found_, 6);
    std::vector<std::string> names;
    for (int i = 0; i < set_->count; ++i) names.push_back(set_->array[i].targetName);
    EXPECT_EQ(names, (std::vector<std::string>{"KT430735", "KT430A2B", "KT4351235", "KT51456"}));
}

TEST_F(SampleTrgTest, RangesBlockSizeAndTailAreAsDesigned) {
    for (int i = 0; i < set_->count; ++i) {
        const CTargetInfo& info = set_->array[i];
        SCOPED_TRACE(info.targetName);
        const auto it = expectedSamples().find(info.targetName);
        ASSERT_NE(it, expectedSamples().end());
        Ranges ranges;
        for (uint32_t r = 0; r < info.areaNum; ++r) ranges.emplace_back(info.area[r].startAdrs, info.area[r].endAdrs);
        EXPECT_EQ(ranges, it->second.ranges);
        EXPECT_EQ(info.blockSize, it->second.blockSize);
        EXPECT_EQ(info.reservedSize2, it->second.reservedSize2);
        EXPECT_EQ((info.targetId32 >> 23) & 1, it->second.secType);
        EXPECT_EQ(info.targetIdBitNum, it->second.idBits);
    }
}

TEST_F(SampleTrgTest, GeometryEndsTheLastRangeAtTheReservedTailAndPlugs) {
    for (int i = 0; i < set_->count; ++i) {
        const CTargetInfo& info = set_->array[i];
        SCOPED_TRACE(info.targetName);
        EXPECT_EQ(chipName(info.targetId00), info.targetName);
        const uint32_t blocks = identificationBlockCount(info);
        EXPECT_EQ(deviceBlockCount(info), blocks);
        ASSERT_GT(info.areaNum, 0u);
        const uint64_t codeEnd = uint64_t{blocks} * info.blockSize;
        EXPECT_EQ(uint64_t{info.area[info.areaNum - 1].endAdrs} + 1 + info.reservedSize2, codeEnd);
        if (info.reservedSize1 != 0) {
            EXPECT_TRUE(inSomeRange(info, static_cast<uint32_t>(codeEnd - info.reservedSize2 - 16)));
        }
        EXPECT_LE(info.romWinStart, info.romWinEnd);
    }
}

TEST_F(SampleTrgTest, AtLeastOneSampleIsLargeEnoughForBenchmarks) {
    const bool large = std::any_of(set_->array, set_->array + set_->count, [](const CTargetInfo& info) {
        return info.area[info.areaNum - 1].endAdrs + 1 + info.reservedSize2 >= 256 * 1024;
    });
    EXPECT_TRUE(large);
}

}  // namespace
}  // namespace vestra::target
