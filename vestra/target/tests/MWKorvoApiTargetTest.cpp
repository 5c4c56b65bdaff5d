// The description-set entry points of CMWKorvoApi against the sample files,
// found the way a program installed beside them finds them (../TRG).
#include <gtest/gtest.h>

#include <filesystem>

#include "api/MWKorvoApi.h"
#include "target/TrgSearch.h"

namespace {

namespace fs = std::filesystem;

class MWKorvoApiTargetTest : public ::testing::Test {
protected:
    void SetUp() override {
        programDir_ = fs::path(::testing::TempDir()) / "mwkorvo_api_target" / "bin";
        fs::remove_all(programDir_.parent_path());
        fs::create_directories(programDir_);
        fs::create_directory_symlink(VESTRA_SAMPLE_TRG_DIR, programDir_.parent_path() / "TRG");
        vestra::target::setProgramDirectoryForTesting(programDir_.string());
    }
    void TearDown() override {
        vestra::target::setProgramDirectoryForTesting("");
        fs::remove_all(programDir_.parent_path());
    }

    fs::path programDir_;
    CMWKorvoApi api_;
};

TEST_F(MWKorvoApiTargetTest, ReadsTheSampleSetAndReturnsIt) {
    uint16_t found = 0;
    TRGINFO* set = api_.ReadTargetInfoFile(93, &found);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(found, 4);
    EXPECT_EQ(set->count, 4);
    EXPECT_EQ(api_.DeleteTargetInfoSet(&set), 1);
    EXPECT_EQ(set, nullptr);
    EXPECT_EQ(api_.DeleteTargetInfoSet(&set), 0);
}

TEST_F(MWKorvoApiTargetTest, NarrowerCallersSkipTheWideProductIds) {
    uint16_t found = 0;
    TRGINFO* set = api_.ReadTargetInfoFile(64, &found);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(found, 4);
    EXPECT_EQ(set->count, 3);
    api_.DeleteTargetInfoSet(&set);
}

TEST_F(MWKorvoApiTargetTest, ConnectionSetPointerStartsNullAndIsCopied) {
    EXPECT_EQ(api_.GetTrgConnect(), nullptr);
    auto* marker = reinterpret_cast<CTrgConnectCtrl*>(&programDir_);
    api_.SetTrgConnect(marker);
    CMWKorvoApi copy;
    copy = api_;
    EXPECT_EQ(copy.GetTrgConnect(), marker);
}

}  // namespace
