// fake-recorder --port N --data FOLDER [--user NAME --password WORD] [--fault KIND]
// Serves the recorder's API from a disk copy until killed.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/common/fake_recorder.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: fake-recorder --port N --data FOLDER [--user NAME --password WORD] [--fault KIND]\n"
                 "  KIND: getid-busy | unavailable | stall-after=SECONDS | drop-after=SECONDS | garbage |\n"
                 "        end-after=SECONDS | unauthorized | redirect | trickle=MILLISECONDS | endless |\n"
                 "        error-page | silent, optionally followed by :PATH to hit only requests whose path begins with PATH\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    fake::FakeRecorderOptions options;
    bool have_port = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string value = argv[++i];
        if (arg == "--port") {
            char* end = nullptr;
            const long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 0 || port > 65535) return Usage();
            options.port = static_cast<int>(port);
            have_port = true;
        } else if (arg == "--data") {
            options.data_folder = value;
        } else if (arg == "--user") {
            options.user = value;
        } else if (arg == "--password") {
            options.password = value;
        } else if (arg == "--fault") {
            if (!fake::ParseFault(value, &options.fault)) return Usage();
        } else {
            return Usage();
        }
    }
    if (!have_port || options.data_folder.empty()) return Usage();

    // Blocked before any thread starts, so only sigwait below sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    fake::FakeRecorder recorder;
    std::string error;
    if (!recorder.Start(options, &error)) {
        std::fprintf(stderr, "fake-recorder: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %d\n", recorder.port());
    std::fflush(stdout);
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    recorder.Stop();
    return 0;
}
