#pragma once
// Builds large plan packets for the benchmarks.

#include <cstddef>

#include "plan/DataPacket.h"

namespace tarvolen::bench {

// A plan of `phases` script phases with multi-line TESTO of about `scriptBytes` each; when
// `markedDone`, every phase also has a superseded and a modified version plus change-log
// entries, as after a batch that ran them all.
DataPacket generatePlan(size_t phases, size_t scriptBytes, bool markedDone);

}  // namespace tarvolen::bench
