#pragma once
// Keeping the plan when writing it back at the end of the program fails: the table is saved
// under a recovery name, so the "done" marks of the session are not lost and the operator can
// put the file in the plan's place.

#include <chrono>
#include <filesystem>

namespace tarvolen {

class TClientDataSet;

// "dbquery-recupero-YYYYMMDD-HHMMSS.xml", in local time.
std::filesystem::path recoveryFileName(std::chrono::system_clock::time_point now);

// Saves the open plan table, as XML, under the recovery name in the plan file's folder, or in
// `fallbackFolder` (created when missing) when that fails. Returns the file written. Throws the
// last EFCreateError when neither place takes the file.
std::filesystem::path savePlanRecovery(TClientDataSet& plan, const std::filesystem::path& planFile,
                                       const std::filesystem::path& fallbackFolder,
                                       std::chrono::system_clock::time_point now);

}  // namespace tarvolen
