#pragma once
// Private to base/os: the names of the temporary files put beside a file being replaced.
//
// ".<target name>.<pid>-<start>.<unique>" (".<target name>.bak.<pid>-<start>.<unique>" for a
// backup being put in place): a file left by a process that died can be told from one still
// being written, also once the process id has gone to another process.

#include <string>
#include <string_view>

namespace tarvolen::os::detail {

// A new name beside `target` (a path) for a temporary file of this process.
std::string temporaryNameBeside(const std::string& target, const std::string& suffix = {});

// Removes the temporary files beside `target` whose writer is gone.
void removeTemporariesOfDeadWriters(const std::string& target);

// Removes the temporary files in `folder`, of any target whose name ends in `suffix`, whose
// writer is gone.
void removeTemporariesOfDeadWritersIn(const std::string& folder, std::string_view suffix);

}  // namespace tarvolen::os::detail
