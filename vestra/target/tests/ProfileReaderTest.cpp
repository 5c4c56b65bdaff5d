#include "target/ProfileReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace vestra::target {
namespace {

ProfileReader parsed(std::string_view text) {
    ProfileReader profile;
    profile.parse(text);
    return profile;
}

TEST(ProfileReader, NamesAreCaseInsensitiveAndValuesTrimmed) {
    const ProfileReader profile = parsed("[Korvo]\r\n  KorvoDebug  =   ENABLE  \r\nTargetId00=1234H\r\n");
    EXPECT_EQ(profile.getString("KORVO", "KORVODEBUG", "DISABLE"), "ENABLE");
    EXPECT_EQ(profile.getString("korvo", "targetid00", "0H"), "1234H");
    // Long names are looked up the same way as the short ones.
    const std::string longName(100, 'N');
    const ProfileReader longNames = parsed("[" + longName + "]\n" + longName + "=long\n");
    EXPECT_EQ(longNames.getString(std::string(100, 'n'), std::string(100, 'n'), ""), "long");
}

TEST(ProfileReader, KeysAreListedLowerCasedAndInOrderOnce) {
    ProfileReader profile;
    profile.parse("[Map]\nNumber=2\nDEFAULT2=SC\ndefault1=UC\n[other]\nx=1\n[MAP]\nnumber=3\n");
    EXPECT_EQ(profile.keys("map"), (std::vector<std::string>{"default1", "default2", "number"}));
    EXPECT_TRUE(profile.keys("missing").empty());
}

TEST(ProfileReader, MissingSectionOrKeyGivesDefault) {
    const ProfileReader profile = parsed("[A]\nX=1\n");
    EXPECT_EQ(profile.getString("B", "X", "dflt"), "dflt");
    EXPECT_EQ(profile.getString("A", "Y", "dflt"), "dflt");
    EXPECT_EQ(profile.getInt("A", "Y", 64), 64u);
}

TEST(ProfileReader, KeysBeforeAnySectionAreNotFound) {
    const ProfileReader profile = parsed("X=1\n[A]\nY=2\n");
    EXPECT_EQ(profile.getString("", "X", "none"), "none");
    EXPECT_EQ(profile.getString("A", "Y", "none"), "2");
}

TEST(ProfileReader, FirstOccurrenceWinsAcrossRepeatedSections) {
    const ProfileReader profile = parsed("[A]\nX=first\nX=second\n[B]\nZ=1\n[a]\nX=third\nY=added\n");
    EXPECT_EQ(profile.getString("A", "X", ""), "first");
    EXPECT_EQ(profile.getString("A", "Y", ""), "added");
}

TEST(ProfileReader, CommentLinesAreSkippedButInlineSemicolonsStay) {
    const ProfileReader profile = parsed("[A]\n; X=commented\n  ;Y=also\nX=a;b\n");
    EXPECT_EQ(profile.getString("A", "X", ""), "a;b");
    EXPECT_EQ(profile.getString("A", "Y", "none"), "none");
}

TEST(ProfileReader, MatchingQuotesAreRemoved) {
    const ProfileReader profile = parsed("[A]\nD=\" padded \"\nS='x'\nU=\"open\nM='x\"\n");
    EXPECT_EQ(profile.getString("A", "D", ""), " padded ");
    EXPECT_EQ(profile.getString("A", "S", ""), "x");
    EXPECT_EQ(profile.getString("A", "U", ""), "\"open");
    EXPECT_EQ(profile.getString("A", "M", ""), "'x\"");
}

TEST(ProfileReader, ValuesAreCutAt255CharactersButFindKeepsThemWhole) {
    const std::string longValue(300, 'v');
    const ProfileReader profile = parsed("[A]\nL=" + longValue + "\n");
    EXPECT_EQ(profile.getString("A", "L", ""), std::string(255, 'v'));
    EXPECT_EQ(profile.getString("A", "MISSING", longValue), std::string(255, 'v'));
    EXPECT_EQ(profile.find("A", "L").value(), longValue);
    EXPECT_FALSE(profile.find("A", "MISSING").has_value());
}

TEST(ProfileReader, IntegersAreDecimalWithDefaultsOnlyForMissingKeys) {
    const ProfileReader profile = parsed("[A]\nN=93\nH=0x10\nT=12abc\nE=\nW=junk\nM=-1\nP=+7\n");
    EXPECT_EQ(profile.getInt("A", "N", 0), 93u);
    EXPECT_EQ(profile.getInt("A", "H", 5), 0u);
    EXPECT_EQ(profile.getInt("A", "T", 5), 12u);
    EXPECT_EQ(profile.getInt("A", "E", 5), 0u);
    EXPECT_EQ(profile.getInt("A", "MISSING", 5), 5u);
    EXPECT_EQ(profile.getInt("A", "W", 5), 0u);
    EXPECT_EQ(profile.getInt("A", "M", 5), 0xFFFFFFFFu);
    EXPECT_EQ(profile.getInt("A", "P", 5), 7u);
}

TEST(ProfileReader, LoadReadsAFileAndAFailedLoadForgetsTheOldContent) {
    const std::string path = ::testing::TempDir() + "profile_reader_test.ini";
    std::ofstream(path, std::ios::binary) << "[S]\r\nK=V\r\n";
    ProfileReader profile;
    ASSERT_TRUE(profile.load(path));
    EXPECT_EQ(profile.getString("S", "K", ""), "V");
    std::remove(path.c_str());
    EXPECT_FALSE(profile.load(path));
    EXPECT_EQ(profile.getString("S", "K", "gone"), "gone");
}

}  // namespace
}  // namespace vestra::target
