#include "target/TrgReader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <filesystem>
#include <fstream>
#include <string>

#include "target/TrgSearch.h"

// Allocation fault injection for this test program: once armed, the Nth
// array allocation fails with bad_alloc (a file's stream buffer is one), and
// live arrays are counted so that a test can tell whether all were freed.
namespace {
std::atomic<int> g_arraysUntilFailure{0};  // 0: disarmed
std::atomic<int> g_liveArrays{0};
}  // namespace

void* operator new[](std::size_t size) {
    if (g_arraysUntilFailure.load() > 0 && --g_arraysUntilFailure == 0) throw std::bad_alloc();
    void* memory = ::operator new(size);
    ++g_liveArrays;
    return memory;
}
void operator delete[](void* memory) noexcept {
    if (memory != nullptr) --g_liveArrays;
    ::operator delete(memory);
}
void operator delete[](void* memory, std::size_t) noexcept { ::operator delete[](memory); }

namespace vestra::target {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kMaxIdBits = 93;
const std::string kEnabledHeader = "[KORVO]\r\nKORVODEBUG=ENABLE\r\nTARGETID00=01004560H\r\nTARGETID32=00030800H\r\n";

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// A private tree: root/Tools/Writer is the program directory, root/config the
// per-user config directory.
class TrgReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::path(::testing::TempDir()) /
                ("trg_reader_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root_);
        fs::create_directories(programDir());
        const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
        savedConfig_ = oldConfig != nullptr ? std::optional<std::string>(oldConfig) : std::nullopt;
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setProgramDirectoryForTesting(programDir().string());
    }
    void TearDown() override {
        setProgramDirectoryForTesting("");
        if (savedConfig_) {
            setenv("XDG_CONFIG_HOME", savedConfig_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        fs::remove_all(root_);
    }

    fs::path programDir() const { return root_ / "Tools" / "Writer"; }
    void setTrgPath(const std::string& value) {
        writeFile(root_ / "config" / "Zentor" / "Morvi.conf", "[Morvi]\nTrgPath=" + value + "\n");
    }
    void writeTrg(const fs::path& path, const std::string& extra = "") { writeFile(path, kEnabledHeader + extra); }

    // Reads a single file written into a directory of its own.
    TRGINFO* readOne(const std::string& name, const std::string& content, uint8_t maxIdBits = kMaxIdBits) {
        const fs::path path = root_ / "single" / name;
        writeFile(path, content);
        uint16_t found = 0;
        return readTargetInfoSet({path.string()}, maxIdBits, &found);
    }
    bool accepted(const std::string& content, uint8_t maxIdBits = kMaxIdBits) {
        TRGINFO* set = readOne("X.TRG", content, maxIdBits);
        const bool result = set != nullptr;
        deleteTargetInfoSet(&set);
        return result;
    }

    fs::path root_;
    std::optional<std::string> savedConfig_;
};

std::vector<std::string> namesOf(const std::vector<std::string>& paths) {
    std::vector<std::string> names;
    for (const std::string& p : paths) names.push_back(fs::path(p).filename().string());
    return names;
}

TEST_F(TrgReaderTest, ProgramDirectoryWinsOverTrgPathAndSibling) {
    writeTrg(programDir() / "HERE.TRG");
    writeTrg(root_ / "user" / "USER.TRG");
    writeTrg(root_ / "Tools" / "TRG" / "SIB.TRG");
    setTrgPath((root_ / "user").string());
    EXPECT_EQ(namesOf(findTrgFiles()), std::vector<std::string>{"HERE.TRG"});
}

TEST_F(TrgReaderTest, TrgPathIsConsultedWhenTheProgramDirectoryHasNone) {
    writeTrg(root_ / "user" / "USER.TRG");
    writeTrg(root_ / "Tools" / "TRG" / "SIB.TRG");
    setTrgPath((root_ / "user").string());  // no trailing slash: one is added
    EXPECT_EQ(findTrgFiles(), std::vector<std::string>{(root_ / "user" / "USER.TRG").string()});
}

TEST_F(TrgReaderTest, ToolBaseExpandsToTheProgramDirectorysParent) {
    writeTrg(root_ / "Tools" / "Mine" / "TOOL.TRG");
    writeTrg(root_ / "Tools" / "TRG" / "SIB.TRG");
    setTrgPath("ignored%Z9TOOLBASE%/Mine");
    EXPECT_EQ(findTrgFiles(), std::vector<std::string>{(root_ / "Tools" / "Mine" / "TOOL.TRG").string()});
}

TEST_F(TrgReaderTest, SiblingTrgIsTheLastPlace) {
    writeTrg(root_ / "Tools" / "TRG" / "SIB.TRG");
    setTrgPath((root_ / "empty").string());
    EXPECT_EQ(namesOf(findTrgFiles()), std::vector<std::string>{"SIB.TRG"});
    setTrgPath((root_ / "user").string() + "/" + std::string(260, 'x'));  // too long for the value: skipped
    EXPECT_EQ(namesOf(findTrgFiles()), std::vector<std::string>{"SIB.TRG"});
}

TEST_F(TrgReaderTest, NothingFoundGivesNullAndZeroFiles) {
    uint16_t found = 99;
    EXPECT_EQ(readTargetInfoFiles(kMaxIdBits, &found), nullptr);
    EXPECT_EQ(found, 0);
}

TEST(TrgPathExpansion, ReplacesUpToTheLastPercentAndEndsInSlash) {
    EXPECT_EQ(expandTrgPath("%Z9TOOLBASE%/TRG", "/opt/tools/writer/"), "/opt/tools/TRG/");
    EXPECT_EQ(expandTrgPath("x%Z9TOOLBASE%%/TRG/", "/opt/tools/writer/"), "/opt/tools/TRG/");
    EXPECT_EQ(expandTrgPath("%Z9TOOLBASE%", "/opt/tools/writer/"), "/opt/tools/");
    EXPECT_EQ(expandTrgPath("%z9toolbase%/TRG", "/opt/tools/writer/"), "%z9toolbase%/TRG/");
    EXPECT_EQ(expandTrgPath("/data/trg", "/opt/"), "/data/trg/");
    EXPECT_EQ(expandTrgPath("%Z9TOOLBASE%", "/writer/"), "");
    EXPECT_EQ(expandTrgPath("", "/opt/tools/writer/"), "");
}

TEST_F(TrgReaderTest, PatternIgnoresCaseAndFilesComeSortedByName) {
    writeTrg(programDir() / "b.trg");
    writeTrg(programDir() / "A.TRG");
    writeTrg(programDir() / "c.Trg");
    writeFile(programDir() / "notes.txt", kEnabledHeader);
    writeFile(programDir() / "TRG", kEnabledHeader);
    fs::create_directories(programDir() / "d.TRG");
    EXPECT_EQ(namesOf(findTrgFiles()), (std::vector<std::string>{"A.TRG", "b.trg", "c.Trg", "d.TRG"}));
    uint16_t found = 0;
    TRGINFO* set = readTargetInfoFiles(kMaxIdBits, &found);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(found, 4);
    EXPECT_EQ(set->count, 3);  // the directory reads as not enabled
    EXPECT_STREQ(set->array[0].targetName, "A");
    EXPECT_STREQ(set->array[2].targetName, "c");
    EXPECT_EQ(deleteTargetInfoSet(&set), 1);
}

TEST_F(TrgReaderTest, ThreeFoundOneSkippedGivesTwoPacked) {
    writeTrg(programDir() / "K1.TRG");
    writeFile(programDir() / "K2.TRG", "[KORVO]\nKORVODEBUG=DISABLE\nTARGETID00=1H\n");
    writeTrg(programDir() / "K3.TRG", "EDIT=7\n");
    uint16_t found = 0;
    TRGINFO* set = readTargetInfoFiles(kMaxIdBits, &found);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(found, 3);
    ASSERT_EQ(set->count, 2);
    EXPECT_STREQ(set->array[0].targetName, "K1");
    EXPECT_STREQ(set->array[1].targetName, "K3");
    EXPECT_EQ(set->array[1].edit, 7u);
    EXPECT_EQ(deleteTargetInfoSet(&set), 1);
    EXPECT_EQ(set, nullptr);
}

TEST_F(TrgReaderTest, AllSkippedGivesNullButCountsTheFiles) {
    writeFile(programDir() / "K1.TRG", "[KORVO]\nKORVODEBUG=enable\nTARGETID00=1H\n");
    writeFile(programDir() / "K2.TRG", "");
    uint16_t found = 0;
    EXPECT_EQ(readTargetInfoFiles(kMaxIdBits, &found), nullptr);
    EXPECT_EQ(found, 2);
}

TEST_F(TrgReaderTest, OnlyExactlyEnableIsUsed) {
    EXPECT_TRUE(accepted(kEnabledHeader));
    EXPECT_FALSE(accepted("[KORVO]\nKORVODEBUG=enable\nTARGETID00=1H\n"));
    EXPECT_FALSE(accepted("[KORVO]\nKORVODEBUG=Enable\nTARGETID00=1H\n"));
    EXPECT_FALSE(accepted("[KORVO]\nTARGETID00=1H\n"));
    EXPECT_TRUE(accepted("[korvo]\nkorvodebug = ENABLE \nTARGETID00=1H\n"));
}

TEST_F(TrgReaderTest, ProductIdWiderThanTheCallerAllowsIsSkipped) {
    EXPECT_FALSE(accepted(kEnabledHeader + "TARGETID_BIT_NUM=128\n"));
    EXPECT_TRUE(accepted(kEnabledHeader + "TARGETID_BIT_NUM=128\n", 128));
    EXPECT_TRUE(accepted(kEnabledHeader + "TARGETID_BIT_NUM=93\n"));
    TRGINFO* set = readOne("W.TRG", kEnabledHeader);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->array[0].targetIdBitNum, 64u);
    deleteTargetInfoSet(&set);
}

TEST_F(TrgReaderTest, BothIdsZeroIsSkippedEitherOneSuffices) {
    const std::string rest = "TARGETID64=1234H\nTARGETID96=1H\n[MMAP]\nNUMBER=1\nDEFAULT1=SC\nSTARTADRS1=0\nENDADRS1=FFFF\n";
    EXPECT_FALSE(accepted("[KORVO]\nKORVODEBUG=ENABLE\nTARGETID00=0H\nTARGETID32=0H\n" + rest));
    EXPECT_FALSE(accepted("[KORVO]\nKORVODEBUG=ENABLE\n" + rest));
    EXPECT_TRUE(accepted("[KORVO]\nKORVODEBUG=ENABLE\nTARGETID32=100H\n"));
    EXPECT_TRUE(accepted("[KORVO]\nKORVODEBUG=ENABLE\nTARGETID00=1H\n"));
}

TEST_F(TrgReaderTest, VersionDefaultsWhenMissingEmptyOrZero) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "1.10"},
        {"KORVO_VERSION=\n", "1.10"},
        {"KORVO_VERSION=0.00\n", "1.10"},
        {"KORVO_VERSION=V2.00\n", "1.10"},
        {"KORVO_VERSION=2.05\n", "2.05"},
        {"KORVO_VERSION=1.2\n", "1.2"},
        {"KORVO_VERSION=123456789\n", "123456789"},
    };
    for (const auto& [line, expected] : cases) {
        TRGINFO* set = readOne("V.TRG", kEnabledHeader + line);
        ASSERT_NE(set, nullptr) << line;
        EXPECT_STREQ(set->array[0].version, expected.c_str()) << line;
        deleteTargetInfoSet(&set);
    }
}

TEST_F(TrgReaderTest, VersionTooLongForTheFieldSkipsTheFile) {
    EXPECT_FALSE(accepted(kEnabledHeader + "KORVO_VERSION=1.00000000\n"));
}

TEST_F(TrgReaderTest, ReadsEveryFieldOfAFullFile) {
    TRGINFO* set = readOne("KT4351235.trg",
                           "[KORVO]\r\nKORVODEBUG=ENABLE\r\nTARGETID00=45001235H\r\nTARGETID32=00810200H\r\n"
                           "TARGETID64=0000C010H\r\nTARGETID96=ABCDH\r\nTARGETID_BIT_NUM=93\r\nKORVO_VERSION=1.12\r\n"
                           "EDIT=3\r\nMEMORYTYPE=4\r\nBRKPOINTVAL=5\r\n"
                           "[KORVO_READONLY_AREA]\r\nNUMBER=1\r\nSTARTADRS1=1000H\r\nENDADRS1=10FFH\r\n"
                           "[MMAP]\r\nNUMBER=3\r\nDEFAULT1=SC\r\nSTARTADRS1=0H\r\nENDADRS1=7FFFH\r\n"
                           "DEFAULT2=UC\r\nSTARTADRS2=8000H\r\nENDADRS2=FFFFH\r\n"
                           "DEFAULT3=TEST\r\nSTARTADRS3=F:0\r\nENDADRS3=F:FF\r\n"
                           "[GMAP]\r\nNUMBER=2\r\nDEFAULT1=SCD\r\nSTARTADRS1=80000H\r\nENDADRS1=8FFFFH\r\n"
                           "DEFAULT2=UCD\r\nSTARTADRS2=20000H\r\nENDADRS2=21FFFH\r\n"
                           "[PMAP]\r\nNUMBER=3\r\nDEFAULT1=RAM\r\nSTARTADRS1=1H\r\nENDADRS1=2H\r\n"
                           "DEFAULT2=ROMWIN\r\nSTARTADRS2=2000H\r\nENDADRS2=7FFFH\r\n"
                           "DEFAULT3=ROMWIN\r\nSTARTADRS3=3000H\r\nENDADRS3=3FFFH\r\n");
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->count, 1);
    const CTargetInfo& info = set->array[0];
    EXPECT_STREQ(info.targetName, "KT4351235");
    EXPECT_EQ(info.targetId00, 0x45001235u);
    EXPECT_EQ(info.targetId32, 0x00810200u);
    EXPECT_EQ(info.targetId64, 0x0000C010u);
    EXPECT_EQ(info.targetId96, 0xABCDu);
    EXPECT_EQ(info.targetIdBitNum, 93u);
    EXPECT_STREQ(info.version, "1.12");
    EXPECT_EQ(info.edit, 3u);
    EXPECT_EQ(info.memoryType, 4u);
    EXPECT_EQ(info.brkPointVal, 5u);
    EXPECT_EQ(info.blockSize, 4096u);       // extended, size code 1
    EXPECT_EQ(info.reservedSize1, 512u);    // code 0
    EXPECT_EQ(info.reservedSize2, 128u);    // code 6
    ASSERT_EQ(info.areaNum, 3u);
    EXPECT_EQ(info.area[0].startAdrs, 0u);
    EXPECT_EQ(info.area[0].endAdrs, 0xFFFu);
    EXPECT_EQ(info.area[1].startAdrs, 0x1100u);
    EXPECT_EQ(info.area[1].endAdrs, 0xFFFFu);
    EXPECT_EQ(info.area[2].startAdrs, 0x20000u);
    EXPECT_EQ(info.area[2].endAdrs, 0x21FFFu);
    EXPECT_EQ(info.testAreaStart, 0xF0000u);
    EXPECT_EQ(info.romWinStart, 0x2000u);
    EXPECT_EQ(info.romWinEnd, 0x7FFFu);
    deleteTargetInfoSet(&set);
}

TEST_F(TrgReaderTest, DefaultsForAMinimalFile) {
    TRGINFO* set = readOne("MIN.TRG", kEnabledHeader);
    ASSERT_NE(set, nullptr);
    const CTargetInfo& info = set->array[0];
    EXPECT_EQ(info.edit, 1u);
    EXPECT_EQ(info.memoryType, 2u);
    EXPECT_EQ(info.brkPointVal, 2u);
    EXPECT_EQ(info.areaNum, 0u);
    EXPECT_EQ(info.romWinStart, 0u);
    EXPECT_EQ(info.romWinEnd, 0u);
    EXPECT_EQ(info.testAreaStart, 0u);
    EXPECT_EQ(info.blockSize, 6144u);
    deleteTargetInfoSet(&set);
}

std::string manyAreas(const std::string& section, int count, bool withKinds) {
    std::string text = "[" + section + "]\nNUMBER=" + std::to_string(count) + "\n";
    for (int n = 1; n <= count; ++n) {
        const uint32_t start = static_cast<uint32_t>(n) * 0x10;
        char line[96];
        std::snprintf(line, sizeof line, "%sSTARTADRS%d=%XH\nENDADRS%d=%XH\n",
                      withKinds ? ("DEFAULT" + std::to_string(n) + "=SC\n").c_str() : "", n, start, n, start + 7);
        text += line;
    }
    return text;
}

TEST_F(TrgReaderTest, FilesOutsideTheAreaLimitsAreSkipped) {
    EXPECT_TRUE(accepted(kEnabledHeader + manyAreas("MMAP", 256, true)));
    EXPECT_FALSE(accepted(kEnabledHeader + manyAreas("MMAP", 257, true)));
    EXPECT_FALSE(accepted(kEnabledHeader + manyAreas("KORVO_READONLY_AREA", 257, false)));
    // 2 flash areas but 257 ranges once the holes are cut
    const std::string holes = manyAreas("KORVO_READONLY_AREA", 256, false);
    EXPECT_FALSE(accepted(kEnabledHeader + holes + "[MMAP]\nNUMBER=1\nDEFAULT1=SC\nSTARTADRS1=0\nENDADRS1=FFFFF\n"));
}

TEST_F(TrgReaderTest, EmptyDecimalValuesReadAsZeroNotAsTheirDefaults) {
    TRGINFO* set = readOne("E.TRG", kEnabledHeader + "TARGETID_BIT_NUM=\nEDIT=\nMEMORYTYPE=\nBRKPOINTVAL=\n");
    ASSERT_NE(set, nullptr);
    const CTargetInfo& info = set->array[0];
    EXPECT_EQ(info.targetIdBitNum, 0u);
    EXPECT_EQ(info.edit, 0u);
    EXPECT_EQ(info.memoryType, 0u);
    EXPECT_EQ(info.brkPointVal, 0u);
    deleteTargetInfoSet(&set);
}

// Fails each allocation in turn while two files are read: whether the read
// gives up or completes, no array may be left behind.
TEST_F(TrgReaderTest, RunningOutOfMemoryWhileReadingLeavesNoArrayBehind) {
    const fs::path first = root_ / "oom" / "A.TRG";
    const fs::path second = root_ / "oom" / "B.TRG";
    writeTrg(first, "[MMAP]\nNUMBER=1\nDEFAULT1=SC\nSTARTADRS1=0\nENDADRS1=FFFF\n");
    writeTrg(second);
    const std::vector<std::string> paths{first.string(), second.string()};
    int failures = 0;
    for (int failAt = 1; failAt <= 8; ++failAt) {
        const int arraysBefore = g_liveArrays.load();
        TRGINFO* set = nullptr;
        g_arraysUntilFailure = failAt;
        try {
            set = readTargetInfoSet(paths, kMaxIdBits, nullptr);
        } catch (const std::bad_alloc&) {
            ++failures;
        }
        g_arraysUntilFailure = 0;
        deleteTargetInfoSet(&set);
        EXPECT_EQ(g_liveArrays.load(), arraysBefore) << "allocation " << failAt;
    }
    EXPECT_GT(failures, 0);
}

TEST(TrgSetDeletion, NullAndEmptySetsAreLeftAlone) {
    EXPECT_EQ(deleteTargetInfoSet(nullptr), 0);
    TRGINFO* none = nullptr;
    EXPECT_EQ(deleteTargetInfoSet(&none), 0);
    TRGINFO empty{0, nullptr};
    TRGINFO* emptyPtr = &empty;
    EXPECT_EQ(deleteTargetInfoSet(&emptyPtr), 0);
    EXPECT_EQ(emptyPtr, &empty);
}

}  // namespace
}  // namespace vestra::target
