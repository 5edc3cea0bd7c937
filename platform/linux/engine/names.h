#pragma once

#include <string_view>

namespace tarnu::engine {

// A name Jet accepts for a table or a field: 1 to 64 characters, no control characters, not
// starting with a blank.
bool IsValidName(std::string_view name);

// Names compare without regard to the case of ASCII letters, as table and field names do.
bool SameName(std::string_view a, std::string_view b);

}  // namespace tarnu::engine
