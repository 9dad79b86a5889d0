#pragma once
// Rows of text as the tools print them for people: a header row first, columns padded with
// blanks to the widest value plus two, the last column unpadded, each line ending with LF.

#include <string>
#include <vector>

namespace tarvolen::cli {

std::string AlignedTable(const std::vector<std::vector<std::string>>& rows);

}  // namespace tarvolen::cli
