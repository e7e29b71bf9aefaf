// vantrel-serial-sim: one simulated configurable device on a pseudo-terminal, for demos.
// Point the console at it with VANTREL_COM_PORTS="1=<printed path>".
#include <csignal>
#include <cstdio>

#include "serialsim/serial_device.h"

int main() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // Blocked before the device thread starts, so only sigwait below sees them.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    serialsim::SimSerialDevice device;
    if (!device.valid()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    std::printf("simulated serial device on %s\n", device.slavePath().c_str());
    std::printf("run the console with VANTREL_COM_PORTS=\"1=%s\" and read COM1\n",
                device.slavePath().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::printf("reads answered: %d, writes applied: %d\n", device.readsAnswered(),
                device.writesApplied());
    return 0;
}
