// korvo-sim: simulated KORVO emulators with their target chips, one Unix
// socket each. See helpText() (korvo-sim --help) for the whole contract.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>

#include "Chip.h"
#include "Emulator.h"
#include "EmulatorServer.h"
#include "Options.h"

namespace {

namespace fs = std::filesystem;
using namespace korvo;

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

LogSink makeLogSink(bool verbose) {
    if (!verbose) {
        return {};
    }
    auto mutex = std::make_shared<std::mutex>();
    return [mutex](const std::string& line) {
        std::lock_guard lock(*mutex);
        std::cerr << "korvo-sim: " << line << '\n';
    };
}

std::string socketName(size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "korvo-%02zu", index);
    return name;
}

// The socket directory as an absolute path; `created` tells whether this
// run made a fresh one.
bool prepareDirectory(const std::string& requested, std::string& dir, bool& created, std::string& error) {
    std::error_code ec;
    if (requested.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string pattern = std::string(runtime != nullptr && *runtime != '\0' ? runtime : "/tmp") +
                              "/korvo-sim-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            error = "cannot create a directory like " + pattern;
            return false;
        }
        dir = pattern;
        created = true;
    } else {
        created = fs::create_directories(requested, ec);
        if (ec) {
            error = "cannot create directory " + requested + ": " + ec.message();
            return false;
        }
        dir = requested;
    }
    dir = fs::weakly_canonical(fs::absolute(dir), ec).string();
    return !ec;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && in.is_open();
}

std::unique_ptr<Emulator> buildEmulator(size_t index, const EmulatorSettings& settings, const Timing& timing,
                                        const LogSink& log, std::string& error) {
    ChipDescription description;
    if (!describeChipFromTrg(settings.trg, description, error)) {
        return nullptr;
    }
    if (!settings.chipName.empty()) {
        description.chipName = settings.chipName;
    }
    Chip chip(std::move(description));
    if (!settings.image.empty()) {
        std::vector<uint8_t> image;
        if (!readFile(settings.image, image)) {
            error = "cannot read image file " + settings.image;
            return nullptr;
        }
        chip.loadImage(image);
    }
    if (!settings.securityId.empty()) {
        std::vector<uint16_t> words;
        parseSecurityId(settings.securityId, words, error);
        chip.protect(std::move(words));
    }
    EmulatorSetup setup{socketName(index), settings.firmware, settings.faults, timing};
    return std::make_unique<Emulator>(std::move(setup), std::move(chip), log);
}

bool writeDump(const Emulator& emulator, const std::string& dir) {
    std::ofstream out(dir + "/" + emulator.name() + ".bin", std::ios::binary | std::ios::trunc);
    emulator.chip().writeDump(out);
    return static_cast<bool>(out.flush());
}

int fail(const std::string& message, int code) {
    std::cerr << "korvo-sim: " << message << '\n';
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // Block the stop signals before any thread exists, so that only the
    // sigwait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Options options;
    std::string error;
    if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        return fail(error + " (korvo-sim --help lists the options)", kExitUsage);
    }
    if (options.help) {
        std::cout << helpText();
        return 0;
    }
    const LogSink log = makeLogSink(options.verbose);
    std::vector<std::unique_ptr<Emulator>> emulators;
    for (size_t k = 0; k < options.emulators.size(); ++k) {
        emulators.push_back(buildEmulator(k, options.emulators[k], options.timing, log, error));
        if (!emulators.back()) {
            return fail(error, kExitFailure);
        }
    }
    std::string dir;
    bool createdDir = false;
    if (!prepareDirectory(options.dir, dir, createdDir, error)) {
        return fail(error, kExitFailure);
    }
    std::vector<std::unique_ptr<EmulatorServer>> servers;
    for (const auto& emulator : emulators) {
        servers.push_back(std::make_unique<EmulatorServer>(*emulator, dir + "/" + emulator->name(), log));
        if (!servers.back()->listen(error)) {
            for (auto& server : servers) {
                server->removeSocket();
            }
            return fail(error, kExitFailure);
        }
    }
    int stopPipe[2];
    if (::pipe(stopPipe) != 0) {
        return fail("cannot create a pipe", kExitFailure);
    }
    for (auto& server : servers) {
        server->start(stopPipe[0]);
    }
    std::cout << "KORVO_SIM_DIR=" << dir << std::endl;

    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &stop, 1);
    for (auto& server : servers) {
        server->join();
    }
    int status = 0;
    if (options.dump) {
        for (const auto& emulator : emulators) {
            if (!writeDump(*emulator, dir)) {
                status = fail("cannot write the memory dump of " + emulator->name(), kExitFailure);
            }
        }
    }
    for (auto& server : servers) {
        server->removeSocket();
    }
    if (createdDir && !options.dump) {
        ::rmdir(dir.c_str());
    }
    return status;
}
