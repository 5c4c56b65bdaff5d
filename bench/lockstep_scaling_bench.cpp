// Lock-step scaling: the time to write 256 KiB to N = 1, 2, 4, 8 simulated
// emulators that take 1 ms per write command, as T(N)/T(1). Every chunk goes
// to all emulators before any answer is awaited, so the emulators program in
// parallel and T(N) should stay close to T(1); what remains is the host's
// per-exchange cost, N times per chunk.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "vestra.h"

namespace {

using Clock = std::chrono::steady_clock;
using korvo::testing::SimProcess;

constexpr uint32_t kWriteSize = 256 * 1024;
constexpr const char* kTarget = "KT430735";  // 512 KiB of flash
constexpr int kRounds = 3;

struct Run {
    bool ok = false;
    double seconds = 0;
};

bool plugAll(TRGINFO* set, uint32_t count) {
    if (ApiStartupTargetAll(set, kTarget) != 1) return false;
    for (uint32_t n = 1; n <= count; ++n) {
        uint16_t isProtected = 1;
        int success = 0;
        ApiIsTargetProtected(n, &isProtected);
        ApiIsTargetPlugSuccess(n, &success);
        if (success != 1) return false;
    }
    return true;
}

bool allClear(uint32_t count) {
    for (uint32_t n = 1; n <= count; ++n) {
        int status = -1;
        ApiGetTargetStatus(n, &status);
        if (status != 0) return false;
    }
    return true;
}

// Best of kRounds writes of the image to `count` emulators.
Run timeWrites(const std::string& dir, TRGINFO* set, uint32_t count, std::vector<uint8_t>& image) {
    SimProcess sim({"--trg", SimProcess::sampleTrg(kTarget), "--emulators", std::to_string(count), "--dir", dir,
                    "--write-us", "1000"});
    Run best;
    if (!sim.start()) return best;
    uint32_t connected = 0;
    if (ApiCreateConnect() == 1 && ApiGetTargetNum(&connected) == 1 && connected == count && plugAll(set, count)) {
        best.ok = true;
        for (int round = 0; round < kRounds && best.ok; ++round) {
            const auto start = Clock::now();
            ApiFlashWriteAll(0, kWriteSize - 1, 0, image.data());
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            best.ok = allClear(count);
            if (round == 0 || seconds < best.seconds) best.seconds = seconds;
        }
    }
    ApiDelConnect();
    sim.stop();
    return best;
}

}  // namespace

int main() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("vestra-lockstep-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    // The library picks its backend at the first call: every simulator of
    // this run uses the same socket directory.
    ::setenv("KORVO_SIM_DIR", dir.c_str(), 1);

    uint16_t found = 0;
    TRGINFO* set = ApiReadTargetInfoFile(93, &found);
    if (set == nullptr) {
        std::fprintf(stderr, "no TRG files found beside the program (../TRG)\n");
        return 1;
    }
    std::vector<uint8_t> image(kWriteSize);
    for (uint32_t i = 0; i < kWriteSize; ++i) image[i] = static_cast<uint8_t>(i * 13 + (i >> 9));

    std::printf("Lock-step write of %u KiB, 1 ms per write command, best of %d\n", kWriteSize / 1024, kRounds);
    std::printf("%10s %12s %10s\n", "emulators", "T(N) ms", "T(N)/T(1)");
    double baseline = 0;
    int result = 0;
    for (uint32_t count : {1u, 2u, 4u, 8u}) {
        const Run run = timeWrites(dir.string(), set, count, image);
        if (!run.ok) {
            std::printf("%10u %12s\n", count, "failed");
            result = 1;
            continue;
        }
        if (count == 1) baseline = run.seconds;
        std::printf("%10u %12.1f %10.3f\n", count, run.seconds * 1000, baseline > 0 ? run.seconds / baseline : 0.0);
    }
    std::printf("target: T(8)/T(1) <= 1.15\n");
    ApiDeleteTargetInfoSet(&set);
    std::filesystem::remove_all(dir);
    return result;
}
