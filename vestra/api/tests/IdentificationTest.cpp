#include <gtest/gtest.h>

#include "api/tests/ApiFixture.h"

namespace api_testing {
namespace {

// The sample chip with word 0 of its product ID changed.
korvo::ChipDescription chipWithId00(uint32_t id00) {
    korvo::ChipDescription chip = sampleChip();
    chip.productId[0] = id00;
    return chip;
}

class IdentificationTest : public TwoEmulators {
protected:
    void SetUp() override {
        TwoEmulators::SetUp();
        targets_[0] = sampleTarget();
        targets_[1] = sampleTarget();
        std::strcpy(targets_[1].targetName, "A12B34");
        targets_[1].targetId32 = 0;
        set_ = {2, targets_};
    }

    TRGINFO set_{};
    CTargetInfo targets_[2];
};

TEST_F(IdentificationTest, ProductIdIsComparedWithoutBits16To23) {
    sim1.replace(chipWithId00(sampleTarget().targetId00 ^ 0x00FF0000), kSampleFirmware);
    sim2.replace(chipWithId00(sampleTarget().targetId00 ^ 0x01000000), kSampleFirmware);

    ASSERT_EQ(ApiCheckTargetName(1, &set_, "KT51456"), 1);
    ASSERT_EQ(ApiCheckTargetName(2, &set_, "KT51456"), 1);

    EXPECT_EQ(status(1), 0);
    EXPECT_STREQ(device(1).getTargetInfo()->targetName, "KT51456");
    EXPECT_EQ(status(2), 0x2002);
    EXPECT_EQ(device(2).getTargetInfo()->targetName[0], '\0');
    EXPECT_FALSE(sim2.emulator().targetInfo());
}

TEST_F(IdentificationTest, MatchSendsTheRomWindowAndTheFlashAddress) {
    ASSERT_EQ(ApiCheckTargetName(1, &set_, "KT51456"), 1);
    EXPECT_EQ(sim1.commands("set target info").size(), 1u);
    const auto sent = sim1.emulator().targetInfo();
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->romWindowStart, 0x8000);
    EXPECT_EQ(sent->romWindowEnd, 0xFFFF);
    EXPECT_EQ(sent->flashAddress, 8u * 0x2000 - 0x200 - 16);
}

TEST_F(IdentificationTest, ExtendedFormatTakesItsGeometryFromTheIdBits) {
    CTargetInfo extended = sampleTarget();
    std::strcpy(extended.targetName, "KT430A2B");
    extended.targetId00 = 0x4000A2B0;
    extended.targetId32 = 0x00810F00;  // 15 blocks of 2048 << 1
    extended.targetId64 = 0x00008C00;  // size A code 3: no flash address
    extended.area[0] = {0, 0xEFFF};
    TRGINFO one{1, &extended};
    sim1.replace(chipWithId00(extended.targetId00), kSampleFirmware);
    ApiCheckTargetName(1, &one, "KT430A2B");
    ASSERT_TRUE(sim1.emulator().targetInfo());
    EXPECT_EQ(sim1.emulator().targetInfo()->flashAddress, 0u);

    extended.targetId64 = 0x00008000;  // size A 512, size B code 4: 32 bytes
    sim2.replace(chipWithId00(extended.targetId00), kSampleFirmware);
    ApiCheckTargetName(2, &one, "KT430A2B");
    ASSERT_TRUE(sim2.emulator().targetInfo());
    EXPECT_EQ(sim2.emulator().targetInfo()->flashAddress, 15u * 0x1000 - 32 - 16);
}

TEST_F(IdentificationTest, DescriptionWithoutFullIdMatchesByTheDigitsOfItsName) {
    korvo::ChipDescription chip = sampleChip();
    chip.chipName = "1234";
    sim1.replace(chip, kSampleFirmware);
    chip.chipName = "12345";
    sim2.replace(chip, kSampleFirmware);
    ApiCheckTargetName(1, &set_, "A12B34");
    ApiCheckTargetName(2, &set_, "A12B34");
    EXPECT_EQ(status(1), 0);
    EXPECT_STREQ(device(1).getTargetInfo()->targetName, "A12B34");
    EXPECT_EQ(status(2), 0x2002);
}

TEST_F(IdentificationTest, UnknownTargetNameMarksTheDevice) {
    ASSERT_EQ(ApiCheckTargetName(1, &set_, "kt51456"), 1);
    EXPECT_EQ(status(1), 0x2002);
    EXPECT_TRUE(sim1.commands().empty());
}

TEST_F(IdentificationTest, WrappedFlashAddressIsRefusedAfterTheDescriptionIsCopied) {
    targets_[0].targetId32 = 0x00000800;  // basic format, block size code 0
    ApiCheckTargetName(1, &set_, "KT51456");
    EXPECT_EQ(status(1), 0x4005);
    EXPECT_STREQ(device(1).getTargetInfo()->targetName, "KT51456");
    EXPECT_FALSE(sim1.emulator().targetInfo());
}

TEST_F(IdentificationTest, DisabledOrFailedDeviceIsLeftAlone) {
    ApiSetEnableFlg(1, 0);
    ApiSetTargetStatus(2, 0x6300);
    ApiCheckTargetName(1, &set_, "KT51456");
    ApiCheckTargetName(2, &set_, "KT51456");
    ApiCheckFirm(1);
    ApiCheckFirm(2);
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(status(2), 0x6300);
    EXPECT_EQ(device(1).getTargetInfo()->targetName[0], '\0');
    EXPECT_TRUE(sim1.commands().empty());
    EXPECT_TRUE(sim2.commands().empty());
}

TEST_F(IdentificationTest, ProductIdReadFailureIsTheDevicesStatus) {
    sim1.refuse(1, 0x6100);  // the product ID read
    ASSERT_EQ(ApiCheckTargetName(1, &set_, "KT51456"), 1);
    EXPECT_EQ(status(1), 0x6100);
}

// Firmware text -> status, against the sample's version 1.10.
struct FirmCase {
    const char* firmware;
    int status;
};

TEST_F(IdentificationTest, FirmwareTextFormAndNumberAreChecked) {
    const FirmCase cases[] = {{"1.10", 0}, {"2.00", 0}, {"1.09", 0x2004}, {"1.1", 0x2003},
                              {"V1.1", 0x2003}, {"1.100", 0x2003}, {"1-10", 0x2003}};
    for (const FirmCase& c : cases) {
        SCOPED_TRACE(c.firmware);
        ApiSetTargetStatus(1, 0);
        sim1.replace(sampleChip(), c.firmware);
        ApiCheckTargetName(1, &set_, "KT51456");
        ASSERT_EQ(ApiCheckFirm(1), 1);
        EXPECT_EQ(status(1), c.status);
    }
}

TEST_F(IdentificationTest, RequiredVersionIsComparedAsANumber) {
    std::strcpy(targets_[0].version, "1.2");  // 12: any 1.00 or above passes
    sim1.replace(sampleChip(), "1.00");
    ApiCheckTargetName(1, &set_, "KT51456");
    ApiCheckFirm(1);
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(device(1).getFirmVer(), 100u);
}

TEST_F(IdentificationTest, FirmwareTextNeedsAPluggedDeviceWithItsVersionRead) {
    uint32_t needed = 0;
    EXPECT_EQ(ApiGetFirmVersionStr(1, nullptr, 0, &needed), 0);
    device(1).setPlugStatus(PlugProtected);
    EXPECT_EQ(ApiGetFirmVersionStr(1, nullptr, 0, &needed), 0);

    device(1).setFirmVer(112);
    ASSERT_EQ(ApiGetFirmVersionStr(1, nullptr, 0, &needed), 1);
    EXPECT_EQ(needed, 5u);
    char text[5] = {'x', 'x', 'x', 'x', 'x'};
    ASSERT_EQ(ApiGetFirmVersionStr(1, text, 4, &needed), 1);
    EXPECT_EQ(text[0], 'x');
    ASSERT_EQ(ApiGetFirmVersionStr(1, text, 5, &needed), 1);
    EXPECT_STREQ(text, "1.12");

    device(1).setFirmVer(5);
    ASSERT_EQ(ApiGetFirmVersionStr(1, text, 5, &needed), 1);
    EXPECT_STREQ(text, "0.05");
}

TEST_F(IdentificationTest, ProductIdIsReadInTheRequestedWidth) {
    korvo::ChipDescription chip = sampleChip();
    chip.productId[2] = 0x33;
    chip.productId[3] = 0x44;
    sim1.replace(chip, kSampleFirmware);
    uint32_t id[4] = {};
    ASSERT_EQ(ApiTargetReadProductID(1, 64, id), 1);
    EXPECT_EQ(id[0], sampleTarget().targetId00);
    EXPECT_EQ(id[1], sampleTarget().targetId32);
    EXPECT_EQ(id[2], 0u);
    ASSERT_EQ(ApiTargetReadProductID(1, 93, id), 1);
    EXPECT_EQ(id[3], 0x44u);
    EXPECT_EQ(ApiTargetReadProductID(3, 64, id), 0);
}

}  // namespace
}  // namespace api_testing
