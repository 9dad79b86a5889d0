#pragma once
// Keeping this program's copy of the plan when it cannot go into the plan file (the write-back
// at the end failed, another program holds the plan, or a write kept the file's version of
// phases changed on both sides): the table is saved under a recovery name, so nothing of the
// session is lost and the operator can take from it what is missing.

#include <chrono>
#include <filesystem>

namespace tarvolen {

class TClientDataSet;

// "dbquery-recupero-YYYYMMDD-HHMMSS.xml", in local time.
std::filesystem::path recoveryFileName(std::chrono::system_clock::time_point now);

// The folder that takes a recovery file when the plan's own folder refuses it: the user's
// "~/.config/tarvolen" ("%APPDATA%\tarvolen" on Windows); empty when there is no home folder.
std::filesystem::path defaultRecoveryFolder();

// Saves the open plan table as it is, as XML, under the recovery name in the plan file's
// folder, or in `fallbackFolder` (created when missing) when that fails. A name already taken
// gets "-2", "-3", ... before its extension. The file gets the plan file's permission bits (its
// security settings on Windows: a plan only its owner may read stays so), or the usual ones
// when there is no plan file. Returns the file written. Throws the last EFCreateError when
// neither place takes the file.
std::filesystem::path savePlanRecovery(const TClientDataSet& plan,
                                       const std::filesystem::path& planFile,
                                       const std::filesystem::path& fallbackFolder,
                                       std::chrono::system_clock::time_point now);

}  // namespace tarvolen
