#pragma once
// Whole-file reads and crash-safe writes, with the file errors the user sees.

#include <string>
#include <string_view>

namespace tarvolen {

// Absolute form of a (possibly relative) path, resolved against the current directory now.
std::string fullPath(const std::string& path);
bool fileExists(const std::string& path);

// Reads the whole file; other writers are kept out while it is read (shared advisory lock).
// Throws EFOpenError: Cannot open file "<full path>". <system error text>
std::string readWholeFile(const std::string& path);

// Replaces the file's contents: writes a temporary file in the same folder, flushes it to disk
// and renames it over the target, so a failure at any point leaves the old file whole.
// Throws EFCreateError: Cannot create file "<full path>". <system error text>
void writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace tarvolen
