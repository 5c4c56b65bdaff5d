#include "Options.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

bool parse(const std::vector<std::string>& arguments, Options& options, std::string& error) {
    return parseOptions(arguments, options, error);
}

TEST(Options, DefaultsGiveOneEmulatorWithAHighFirmwareVersion) {
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--trg", "a.TRG"}, options, error)) << error;
    ASSERT_EQ(options.emulators.size(), 1u);
    EXPECT_EQ(options.emulators[0].trg, "a.TRG");
    EXPECT_EQ(options.emulators[0].firmware, "9.99");
    EXPECT_TRUE(options.dir.empty());
    EXPECT_FALSE(options.dump);
    EXPECT_EQ(options.timing.write.count(), 0);
}

TEST(Options, PerEmulatorKeysOverrideTheCommonOnesForThatEmulatorAlone) {
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--emulator", "2:firmware=1.05", "--trg=a.TRG", "--emulators", "3", "--firmware", "2.00",
                       "--emulator", "1:trg=b.TRG", "--emulator", "1:chip-name=77", "--emulator",
                       "2:fault=silent-after:3,power-on", "--security-id", "00010002", "--write-us", "1000",
                       "--block-erase-us=20", "--chip-erase-us", "30", "--dump", "-v", "--dir", "/tmp/x"},
                      options, error))
        << error;
    ASSERT_EQ(options.emulators.size(), 3u);
    EXPECT_EQ(options.emulators[0].firmware, "2.00");
    EXPECT_EQ(options.emulators[2].firmware, "1.05");
    EXPECT_EQ(options.emulators[1].trg, "b.TRG");
    EXPECT_EQ(options.emulators[2].trg, "a.TRG");
    EXPECT_EQ(options.emulators[1].chipName, "77");
    EXPECT_EQ(options.emulators[2].faults.silentAfter, 3u);
    EXPECT_TRUE(options.emulators[2].faults.powerOn);
    EXPECT_FALSE(options.emulators[0].faults.powerOn);
    EXPECT_EQ(options.emulators[0].securityId, "00010002");
    EXPECT_EQ(options.timing.write.count(), 1000);
    EXPECT_EQ(options.timing.blockErase.count(), 20);
    EXPECT_EQ(options.timing.chipErase.count(), 30);
    EXPECT_TRUE(options.dump);
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ(options.dir, "/tmp/x");
}

TEST(Options, RejectsBadCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {},                                                      // no TRG
        {"--trg", "a.TRG", "--emulators", "0"},                  // 1 to 32
        {"--trg", "a.TRG", "--emulators", "33"},
        {"--trg", "a.TRG", "--emulator", "1:firmware=1.00"},     // beyond --emulators
        {"--trg", "a.TRG", "--emulator", "0:colour=red"},        // unknown key
        {"--trg", "a.TRG", "--emulator", "0-firmware=1"},        // no K:
        {"--trg", "a.TRG", "--emulator", "0:fault=late:1"},      // late needs MS
        {"--trg", "a.TRG", "--security-id", "123"},              // four digits a word
        {"--trg", "a.TRG", "--write-us", "fast"},
        {"--trg", "a.TRG", "--bogus"},
        {"--trg"},                                               // missing value
    };
    for (const auto& arguments : bad) {
        Options options;
        std::string error;
        EXPECT_FALSE(parse(arguments, options, error)) << ::testing::PrintToString(arguments);
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, HelpNeedsNoTrgAndDocumentsEveryOptionKeyAndFault) {
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--help"}, options, error));
    EXPECT_TRUE(options.help);
    const std::string help = helpText();
    for (const char* word : {"--trg", "--emulators", "--dir", "--firmware", "--security-id", "--image", "--dump",
                             "--emulator", "--write-us", "--block-erase-us", "--chip-erase-us", "-v", "chip-name",
                             "silent-after:N", "status:N:CODE", "bad-seq:N", "bad-signature:N", "oversize:N", "short:N",
                             "disconnect-after:N", "power-on", "late:N:MS", "KORVO_SIM_DIR=", "6305", "6307"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

TEST(Faults, ParsesEveryKindAndRejectsMalformedOnes) {
    Faults faults;
    std::string error;
    ASSERT_TRUE(parseFaults("silent-after:4,status:2:630A,bad-seq:3,bad-signature:5,oversize:6,"
                            "disconnect-after:9,power-on,late:7:1500,short:8",
                            faults, error))
        << error;
    EXPECT_EQ(faults.silentAfter, 4u);
    EXPECT_EQ(faults.statusAt.at(2), 0x630A);
    EXPECT_EQ(faults.badSequenceAt.count(3), 1u);
    EXPECT_EQ(faults.badSignatureAt.count(5), 1u);
    EXPECT_EQ(faults.oversizeAt.count(6), 1u);
    EXPECT_EQ(faults.disconnectAfter, 9u);
    EXPECT_TRUE(faults.powerOn);
    EXPECT_EQ(faults.lateMs.at(7), 1500u);
    EXPECT_EQ(faults.shortAt.count(8), 1u);
    for (const char* text : {"status:0:6300", "status:1:10000", "status:1:xyz", "late:1:-5", "bad-seq", "power-on:1",
                             "oversize:1,", "short:0", "quiet:1"}) {
        Faults ignored;
        EXPECT_FALSE(parseFaults(text, ignored, error)) << text;
    }
}

TEST(SecurityId, ReadsFourHexDigitsAWord) {
    std::vector<uint16_t> words;
    std::string error;
    ASSERT_TRUE(parseSecurityId("0123abcdFFFF", words, error));
    EXPECT_EQ(words, (std::vector<uint16_t>{0x0123, 0xABCD, 0xFFFF}));
    EXPECT_FALSE(parseSecurityId("", words, error));
    EXPECT_FALSE(parseSecurityId("12345", words, error));
    EXPECT_FALSE(parseSecurityId("0x1234", words, error));
    EXPECT_TRUE(parseSecurityId(std::string(127 * 4, 'A'), words, error));
    EXPECT_FALSE(parseSecurityId(std::string(128 * 4, 'A'), words, error));
}

}  // namespace
}  // namespace korvo
