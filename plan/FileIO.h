#pragma once
// Whole-file reads and crash-safe writes, with the file errors the user sees. Nothing here locks
// a file or keeps two writers apart: when two writes meet, the later rename wins. Keeping a run
// and an editor of the plan apart is the job of a lock held above this layer.

#include <string>
#include <string_view>

namespace tarvolen {

// Absolute form of a (possibly relative) path, resolved against the current directory now.
std::string fullPath(const std::string& path);
bool fileExists(const std::string& path);

// Reads the whole file as it stands, without a lock. A file that writeFileAtomically replaces
// meanwhile is read whole in its old or its new contents, never a mix of both, since the
// replacement is a rename; a program that writes the file in place can still be seen midway.
// Throws EFOpenError: Cannot open file "<full path>". <system error text>
std::string readWholeFile(const std::string& path);

// Replaces the file's contents: writes a temporary file in the same folder, flushes it to disk
// and renames it over the target, so a failure at any point leaves the old file whole.
// Throws EFCreateError: Cannot create file "<full path>". <system error text>
void writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace tarvolen
