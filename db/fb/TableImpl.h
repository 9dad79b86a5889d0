#pragma once
// Private to db/: the state of an open Table, shared with the batches that post its rows.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "MessageCodec.h"
#include "Statement.h"
#include "db/Table.h"

namespace tarvolen::database {

struct Table::Impl {
    bool open = false;
    std::string catalogueName;  // the table's name as the catalogue holds it
    bool inserting = false;
    std::vector<ColumnInfo> columns;
    std::vector<int> parameterOf;  // column position -> insert parameter, -1 when computed
    // Its inputs and input buffer are moved to parameters and buffer.
    std::optional<fb::PreparedStatement> insert;
    std::vector<fb::Column> parameters;
    std::vector<unsigned char> buffer;
    std::vector<std::pair<int, std::string>> blobs;  // parameter -> bytes, written at post
};

}  // namespace tarvolen::database
