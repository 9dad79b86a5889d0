#include "engine/StopSignals.h"

#include "db/Connection.h"

namespace tarvolen {

StopSignals::ClientFirst::ClientFirst() {
    database::keepConnectionsOnInterrupt();
}

StopSignals::StopSignals() = default;

int StopSignals::received() const {
    return m_requests.received();
}

}  // namespace tarvolen
