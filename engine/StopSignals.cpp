#include "engine/StopSignals.h"

#include <iterator>

#include "db/Connection.h"

namespace tarvolen {
namespace {

// A signal handler can reach nothing but a static of this kind.
volatile std::sig_atomic_t g_received = 0;

extern "C" void recordStop(int signal) {
    if (g_received == 0) g_received = signal;
}

}  // namespace

StopSignals::StopSignals() {
    g_received = 0;
    struct sigaction ours {};
    ours.sa_handler = recordStop;
    // Calls the signal lands in (a read from the server, a write) go on rather than fail.
    ours.sa_flags = SA_RESTART;
    sigemptyset(&ours.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &ours, &m_old[i]);
    database::keepConnectionsOnInterrupt();
}

StopSignals::~StopSignals() {
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current {};
        sigaction(kSignals[i], nullptr, &current);
        if (current.sa_handler == recordStop) sigaction(kSignals[i], &m_old[i], nullptr);
    }
}

int StopSignals::received() const {
    return g_received;
}

}  // namespace tarvolen
