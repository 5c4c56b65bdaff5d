// korvo-sim as a program: command line, start-up line, sockets, shut-down
// and --dump.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "SimProcess.h"

namespace korvo {
namespace {

using testing::SimProcess;
namespace fs = std::filesystem;

struct RunResult {
    int exitCode;
    std::string output;
};

RunResult runToEnd(const std::string& arguments) {
    const std::string command = SimProcess::programPath() + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

fs::path freshDir(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / name;
    fs::remove_all(dir);
    return dir;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Program, HelpExitsZeroAndBadCommandLinesExitTwo) {
    const RunResult help = runToEnd("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Faults"), std::string::npos);
    EXPECT_EQ(runToEnd("--trg x.TRG --emulators 40").exitCode, 2);
    const RunResult missing = runToEnd("--trg /nonexistent/KT1.TRG");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("/nonexistent/KT1.TRG"), std::string::npos);
}

TEST(Program, AnnouncesItsDirectoryAndRemovesTheSocketsOnSigint) {
    const fs::path dir = freshDir("korvo_sim_program_sigint");
    SimProcess sim({"--trg", SimProcess::sampleTrg("KT51456"), "--emulators", "3", "--dir", dir.string()});
    ASSERT_TRUE(sim.start());
    EXPECT_EQ(fs::path(sim.dir()), fs::absolute(dir));
    for (unsigned k = 0; k < 3; ++k) EXPECT_TRUE(fs::is_socket(sim.socketPath(k))) << k;
    EXPECT_FALSE(fs::exists(sim.socketPath(3)));

    SimProcess rival({"--trg", SimProcess::sampleTrg("KT51456"), "--dir", dir.string()});
    EXPECT_FALSE(rival.start());  // the sockets are live
    EXPECT_TRUE(fs::is_socket(sim.socketPath(0)));

    ::kill(sim.pid(), SIGINT);
    for (int i = 0; i < 250 && fs::exists(sim.socketPath(2)); ++i) ::usleep(20000);
    EXPECT_FALSE(fs::exists(sim.socketPath(0)));
    EXPECT_FALSE(fs::exists(sim.socketPath(2)));
    EXPECT_EQ(sim.stop(), 0);
    fs::remove_all(dir);
}

TEST(Program, DumpWritesEachChipsMemoryWithTheImageAndTheWrites) {
    const fs::path dir = freshDir("korvo_sim_program_dump");
    fs::create_directories(dir);
    const fs::path image = dir / "image.bin";
    std::ofstream(image, std::ios::binary) << "IMAGE";
    SimProcess sim({"--trg", SimProcess::sampleTrg("KT51456"), "--emulators", "2", "--dir", dir.string(), "--dump",
                    "--emulator", "1:image=" + image.string()});
    ASSERT_TRUE(sim.start());
    EXPECT_EQ(sim.stop(), 0);
    const std::string plain = readFile(dir / "korvo-00.bin");
    const std::string loaded = readFile(dir / "korvo-01.bin");
    ASSERT_EQ(plain.size(), 0x10000u);  // flash up to the end of the reserved tail
    EXPECT_EQ(plain, std::string(0x10000, '\xFF'));
    ASSERT_EQ(loaded.size(), 0x10000u);
    EXPECT_EQ(loaded.substr(0, 6), "IMAGE\xFF");
    EXPECT_FALSE(fs::exists(dir / "korvo-00"));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace korvo
