#pragma once
// Reading an import phase's data file, shared by the import and by the dry run so that both
// accept and refuse the same files with the same messages.

#include <string>

#include "plan/ClientDataSet.h"

namespace tarvolen {

// Loads the data file into `reader`, which then holds its rows. An empty name is refused with
// an EFOpenError: the reader would otherwise fall back to a file name of its own. Read and
// decoding errors go on as the reader raises them.
void LoadImportFile(TClientDataSet& reader, const std::string& fileName);

}  // namespace tarvolen
