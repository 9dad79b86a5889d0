#pragma once
// What the windows say about a plan they share with other programs: one held by another
// process, and a write that kept the file's version of phases changed on both sides.

#include <QString>

namespace tarvolen {

class PlanInUse;
struct PlanConflict;

// "La pianificazione "<file>" è in uso dal processo N (...)." then `consequence`, and the
// refusal as the command line words it.
QString planInUseText(const PlanInUse& refusal, const QString& consequence);

// Names the phases whose version in the file was kept and where this program's copy went.
QString planConflictText(const PlanConflict& conflict);

}  // namespace tarvolen
