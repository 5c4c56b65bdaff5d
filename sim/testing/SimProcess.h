// Runs korvo-sim as a real child process for tests:
//
//   SimProcess sim({"--trg", SimProcess::sampleTrg("KT51456"), "--emulators", "3"});
//   ASSERT_TRUE(sim.start());
//   setenv("KORVO_SIM_DIR", sim.dir().c_str(), 1);
//
// VESTRA picks its backend once per process, at first use; a test that
// needs the simulator after that may install one itself:
//   auto backend = vestra::usb::createSimSocketBackend(sim.dir());
//   vestra::usb::setBackendForTesting(backend.get());
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace korvo::testing {

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> arguments);
    // stop(); a directory that korvo-sim chose itself is removed with its content.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Sends korvo-sim's standard error to `path` (truncated) instead of the
    // test's; takes effect at the next start().
    void setStderrFile(std::string path);

    // Starts korvo-sim and waits for its KORVO_SIM_DIR line. After a stop()
    // or kill() it starts again in the same directory, so that the sockets
    // come back under the same paths. False if the program failed to start.
    bool start();
    // SIGTERM, then waits: the sockets are removed and --dump files written.
    // Returns the exit status (-1 if it was not running or did not exit normally).
    int stop();
    // SIGKILL, then waits: the sockets stay behind, as after a crash.
    void kill();

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& dir() const { return dir_; }
    // Path of emulator k's socket: dir()/korvo-kk.
    std::string socketPath(unsigned k) const;

    // Path of korvo-sim and of a sample TRG file of the repository by base name.
    static std::string programPath();
    static std::string sampleTrg(const std::string& baseName);

private:
    std::vector<std::string> commandLine() const;
    bool hasDirArgument() const;

    std::vector<std::string> arguments_;
    std::string stderrFile_;
    std::string dir_;
    bool ownsDir_ = false;
    pid_t pid_ = -1;
};

}  // namespace korvo::testing
