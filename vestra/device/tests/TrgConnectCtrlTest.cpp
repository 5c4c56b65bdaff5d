#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/TrgConnectCtrl.h"
#include "usb/tests/FakeUsbBackend.h"

namespace {

using vestra::usb::testing::FakeUsbBackend;

std::string pathOf(uint32_t k) { return "usb:1-" + std::to_string(k); }

std::vector<std::string> listedPaths(const CTrgConnectCtrl& set) {
    std::vector<std::string> paths;
    uint32_t needed = 0;
    for (uint32_t n = 1; set.GetDevicePathStr(n, nullptr, 0, &needed) == 1; ++n) {
        std::string path(needed, '\0');
        set.GetDevicePathStr(n, path.data(), needed, &needed);
        path.pop_back();
        paths.push_back(path);
    }
    return paths;
}

class TrgConnectCtrlTest : public ::testing::Test {
protected:
    void attach(uint32_t count) {
        for (uint32_t k = 0; k < count; ++k) backend.addDevice(pathOf(k));
    }

    FakeUsbBackend backend;
    CTrgConnectCtrl set;  // destroyed before the backend it uses
};

TEST_F(TrgConnectCtrlTest, ListsEveryEmulatorInOrderAndMakesOneObjectEach) {
    attach(3);
    ASSERT_EQ(set.GetUsbDevice(), 1);
    EXPECT_EQ(set.GetDevNum(), 3);
    EXPECT_EQ(listedPaths(set), (std::vector<std::string>{pathOf(0), pathOf(1), pathOf(2)}));

    ASSERT_EQ(set.CreateFlashApi(), 1);
    ASSERT_EQ(set.GetSizeDevObj(), 3u);
    EXPECT_EQ(set.GetHeadDevObj(), set.GetIndexDevObj(1));
    EXPECT_EQ(set.GetIndexDevObj(0), nullptr);
    EXPECT_EQ(set.GetIndexDevObj(4), nullptr);
    std::vector<CFlashApi*> visited;
    for (auto position = set.GetHeadPositionDevObj(); position != CTrgConnectCtrl::kNoPosition;) {
        visited.push_back(set.GetNextDevObj(position));
    }
    EXPECT_EQ(visited, (std::vector<CFlashApi*>{set.GetIndexDevObj(1), set.GetIndexDevObj(2), set.GetIndexDevObj(3)}));
    for (uint32_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(backend.device(pathOf(k)).isOpen());
        EXPECT_EQ(set.GetIndexDevObj(k + 1)->getStatus(), FlashStatusOk);
    }
}

TEST_F(TrgConnectCtrlTest, FirstTwoOnlyListsTwo) {
    attach(3);
    ASSERT_EQ(set.GetUsbDeviceOne(), 1);
    EXPECT_EQ(set.GetDevNum(), 2);
    EXPECT_EQ(listedPaths(set), (std::vector<std::string>{pathOf(0), pathOf(1)}));
}

TEST_F(TrgConnectCtrlTest, ThirtyThreeInterfacesAreAnErrorButStillListed) {
    attach(34);
    EXPECT_EQ(set.GetUsbDevice(), -1);
    EXPECT_EQ(set.GetDevNum(), 33);
    EXPECT_EQ(listedPaths(set).size(), 33u);

    CTrgConnectCtrl thirtyTwo;
    backend.unplug(pathOf(33));
    backend.unplug(pathOf(32));
    EXPECT_EQ(thirtyTwo.GetUsbDevice(), 1);
    EXPECT_EQ(thirtyTwo.GetDevNum(), 32);
}

TEST_F(TrgConnectCtrlTest, UnreadableInterfaceGetsNoPathAndNoObject) {
    backend.addDevice(pathOf(0));
    backend.addUnreadableEntry();
    backend.addDevice(pathOf(2));
    ASSERT_EQ(set.GetUsbDevice(), 1);
    EXPECT_EQ(set.GetDevNum(), 3);
    EXPECT_EQ(listedPaths(set), (std::vector<std::string>{pathOf(0), pathOf(2)}));
    ASSERT_EQ(set.CreateFlashApi(), 1);
    EXPECT_EQ(set.GetSizeDevObj(), 2u);
}

TEST_F(TrgConnectCtrlTest, NoDeviceListLeavesTheSetEmpty) {
    attach(2);
    backend.setEnumerateFails(true);
    EXPECT_EQ(set.GetUsbDevice(), 0);
    EXPECT_EQ(set.GetUsbDeviceOne(), 0);
    EXPECT_EQ(set.CreateFlashApi(), 0);
    EXPECT_EQ(set.GetSizeDevObj(), 0u);
    EXPECT_EQ(set.GetHeadPositionDevObj(), CTrgConnectCtrl::kNoPosition);
    EXPECT_THROW(set.GetHeadDevObj(), std::invalid_argument);
}

TEST_F(TrgConnectCtrlTest, NoEmulatorAttachedIsSuccessWithNothingToCreate) {
    EXPECT_EQ(set.GetUsbDevice(), 1);
    EXPECT_EQ(set.GetDevNum(), 0);
    EXPECT_EQ(set.CreateFlashApi(), 0);
}

TEST_F(TrgConnectCtrlTest, DevicePathIsCopiedOnlyIntoABufferThatHoldsIt) {
    attach(2);
    set.GetUsbDevice();
    char buffer[16];
    uint32_t needed = 0;
    EXPECT_EQ(set.GetDevicePathStr(0, buffer, sizeof buffer, &needed), 0);
    EXPECT_EQ(set.GetDevicePathStr(3, buffer, sizeof buffer, &needed), 0);

    const std::string path = pathOf(1);
    const auto exact = static_cast<uint32_t>(path.size() + 1);
    std::fill(std::begin(buffer), std::end(buffer), 'x');
    ASSERT_EQ(set.GetDevicePathStr(2, buffer, exact - 1, &needed), 1);
    EXPECT_EQ(needed, exact);
    EXPECT_EQ(buffer[0], 'x');
    ASSERT_EQ(set.GetDevicePathStr(2, buffer, exact, &needed), 1);
    EXPECT_STREQ(buffer, path.c_str());
}

TEST_F(TrgConnectCtrlTest, UnopenableEmulatorStillGetsItsObject) {
    attach(2);
    backend.device(pathOf(1)).failOpens(-1);
    set.GetUsbDevice();
    ASSERT_EQ(set.CreateFlashApi(), 1);
    ASSERT_EQ(set.GetSizeDevObj(), 2u);
    EXPECT_EQ(set.GetIndexDevObj(1)->getStatus(), FlashStatusOk);
    EXPECT_EQ(set.GetIndexDevObj(2)->getStatus(), FlashErrUnreachable);
}

TEST(TrgConnectCtrl, DestroyingTheSetClosesEveryEmulator) {
    FakeUsbBackend backend;
    for (uint32_t k = 0; k < 3; ++k) backend.addDevice(pathOf(k));
    {
        CTrgConnectCtrl set;
        set.GetUsbDevice();
        set.CreateFlashApi();
    }
    for (uint32_t k = 0; k < 3; ++k) EXPECT_FALSE(backend.device(pathOf(k)).isOpen()) << k;
}

TEST(TrgConnectCtrl, RemovedObjectsOutliveTheSet) {
    FakeUsbBackend backend;
    for (uint32_t k = 0; k < 2; ++k) backend.addDevice(pathOf(k));
    std::vector<std::unique_ptr<CFlashApi>> taken;
    {
        CTrgConnectCtrl set;
        set.GetUsbDevice();
        set.CreateFlashApi();
        for (uint32_t n = 1; n <= set.GetSizeDevObj(); ++n) taken.emplace_back(set.GetIndexDevObj(n));
        set.RemoveAllDevObj();
        EXPECT_EQ(set.GetSizeDevObj(), 0u);
    }
    EXPECT_TRUE(backend.device(pathOf(0)).isOpen());
    taken.clear();
    EXPECT_FALSE(backend.device(pathOf(0)).isOpen());
}

// Directories with korvo-sim-like listening sockets, for the backend choice.
class SocketDirectory {
public:
    SocketDirectory(const std::string& name, uint32_t sockets)
        : dir_(std::filesystem::path(::testing::TempDir()) / name) {
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        for (uint32_t k = 0; k < sockets; ++k) {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const std::string path = socketPath(k);
            std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
            const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
            EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
            fds_.push_back(fd);
        }
    }
    ~SocketDirectory() {
        for (int fd : fds_) ::close(fd);
        std::filesystem::remove_all(dir_);
    }
    SocketDirectory(const SocketDirectory&) = delete;
    SocketDirectory& operator=(const SocketDirectory&) = delete;

    std::string dir() const { return dir_.string(); }
    std::string socketPath(uint32_t k) const { return (dir_ / ("korvo-" + std::to_string(k))).string(); }

private:
    std::filesystem::path dir_;
    std::vector<int> fds_;
};

std::vector<std::string> enumerated() {
    CTrgConnectCtrl set;
    EXPECT_EQ(set.GetUsbDevice(), 1);
    return listedPaths(set);
}

// KORVO_SIM_DIR is read at every enumeration, not once per process.
TEST(TrgConnectCtrlBackend, EachEnumerationFollowsTheSimulatorDirectoryOfItsMoment) {
    const SocketDirectory first("connect_ctrl_sim_a", 1);
    const SocketDirectory second("connect_ctrl_sim_b", 2);
    const std::filesystem::path config = std::filesystem::path(::testing::TempDir()) / "connect_ctrl_no_usb_ids";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);  // no configured USB IDs: libusb lists nothing

    ::setenv("KORVO_SIM_DIR", first.dir().c_str(), 1);
    EXPECT_EQ(enumerated(), std::vector<std::string>{first.socketPath(0)});
    ::setenv("KORVO_SIM_DIR", second.dir().c_str(), 1);
    EXPECT_EQ(enumerated(), (std::vector<std::string>{second.socketPath(0), second.socketPath(1)}));
    ::unsetenv("KORVO_SIM_DIR");
    EXPECT_TRUE(enumerated().empty());
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
