#include "engine/ImportFile.h"

#include "plan/Errors.h"

namespace tarvolen {

void LoadImportFile(TClientDataSet& reader, const std::string& fileName) {
    if (fileName.empty()) throw EFOpenError("Cannot open file \"\". No file name given");
    reader.LoadFile(fileName);
}

}  // namespace tarvolen
