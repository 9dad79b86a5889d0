#pragma once
// Private to db/: statement text the layer writes for itself.

#include <optional>
#include <string>
#include <string_view>

namespace tarvolen::database::fb {

// The text is a select that can carry the row's RDB$DB_KEY as an extra first column; returns
// the text with it, or nullopt when the statement does not begin like a plain select.
std::optional<std::string> withDbKey(std::string_view sql);
// Double-quoted identifier.
std::string quoteName(std::string_view name);

}  // namespace tarvolen::database::fb
