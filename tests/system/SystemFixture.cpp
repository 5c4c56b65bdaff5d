#include "SystemFixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace system_testing {
namespace {

namespace fs = std::filesystem;

std::string dumpPath(unsigned k) {
    char name[32];
    std::snprintf(name, sizeof name, "/korvo-%02u.bin", k);
    return SystemTest::simDir() + name;
}

std::string& runDir() {
    static std::string dir;
    return dir;
}

void removeRunDir() {
    std::error_code ignored;
    if (!runDir().empty()) fs::remove_all(runDir(), ignored);
}

}  // namespace

// The sockets and dumps of this process, with the per-user configuration
// beside them; removed when the process ends.
std::string SystemTest::simDir() {
    static const std::string dir = [] {
        std::string pattern = (fs::path(::testing::TempDir()) / "vestra-system-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return std::string();
        runDir() = pattern;
        std::atexit(removeRunDir);
        return (fs::path(pattern) / "sim").string();
    }();
    return dir;
}

void SystemTest::SetUp() {
    ASSERT_FALSE(simDir().empty());
    api = &loadVestra(simDir());
    ASSERT_NE(api->handle, nullptr) << api->loadError;
    ASSERT_TRUE(api->missing.empty()) << api->missing.front();
}

void SystemTest::TearDown() {
    if (api == nullptr || api->handle == nullptr) return;
    if (set_ != nullptr) api->ApiDeleteTargetInfoSet(&set_);
    api->ApiDelConnect();
    if (sim_ != nullptr) sim_->stop();
}

void SystemTest::startSim(std::vector<std::string> arguments) {
    fs::create_directories(simDir());
    for (const auto& entry : fs::directory_iterator(simDir())) fs::remove(entry.path());
    arguments.insert(arguments.end(), {"--dir", simDir(), "--dump"});
    sim_ = std::make_unique<korvo::testing::SimProcess>(std::move(arguments));
    ASSERT_TRUE(sim_->start());
}

void SystemTest::connect(uint32_t devices) {
    ASSERT_EQ(api->ApiCreateConnect(), 1);
    uint32_t count = 0;
    ASSERT_EQ(api->ApiGetTargetNum(&count), 1);
    ASSERT_EQ(count, devices);
}

TRGINFO* SystemTest::targets() {
    if (set_ == nullptr) {
        uint16_t found = 0;
        set_ = api->ApiReadTargetInfoFile(kMaxIdBits, &found);
    }
    return set_;
}

void SystemTest::plugAll(const char* targetName) {
    ASSERT_NE(targets(), nullptr);
    ASSERT_EQ(api->ApiStartupTargetAll(targets(), targetName), 1);
    uint32_t count = 0;
    api->ApiGetTargetNum(&count);
    for (uint32_t n = 1; n <= count; ++n) {
        uint16_t isProtected = 1;
        api->ApiIsTargetProtected(n, &isProtected);
    }
}

void SystemTest::disconnectAndStop() {
    api->ApiDelConnect();
    if (sim_ != nullptr) sim_->stop();
}

std::vector<uint8_t> SystemTest::dump(unsigned k) const {
    std::ifstream file(dumpPath(k), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int SystemTest::status(uint32_t n) const {
    int value = -1;
    api->ApiGetTargetStatus(n, &value);
    return value;
}

PlugStatus SystemTest::plugStatus(uint32_t n) const {
    PlugStatus value = PlugNone;
    api->ApiGetTargetPlugStatus(n, &value);
    return value;
}

}  // namespace system_testing
