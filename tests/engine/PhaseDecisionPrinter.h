#pragma once
// Decisions by name in test failure messages.

#include <ostream>

#include "engine/PhaseDecision.h"

namespace tarvolen {

inline void PrintTo(PhaseDecision decision, std::ostream* os) {
    switch (decision) {
        case PhaseDecision::AlreadyDone:
            *os << "AlreadyDone";
            return;
        case PhaseDecision::SkippedForVersion:
            *os << "SkippedForVersion";
            return;
        case PhaseDecision::Script:
            *os << "Script";
            return;
        case PhaseDecision::Import:
            *os << "Import";
            return;
        case PhaseDecision::NoAction:
            *os << "NoAction";
            return;
    }
    *os << "PhaseDecision(" << static_cast<int>(decision) << ")";
}

}  // namespace tarvolen
