#pragma once

#include <string>

#include "dbmaint/engine_holder.h"

namespace tarnu::dbmaint {

// Passes over a database with links, counted from the first: enough for the walks, which skip
// an entry after each deletion, to remove every link.
constexpr int MaxLinkRemovalPasses = 11;

// "[name]" with every "]" inside doubled, so any legal table name stands in a statement.
std::string QuoteName(const std::string& name);

// Removes the linked table definitions of the application's three databases and empties the
// "Temp_" tables of the administration database. The databases are opened by bare name, that is
// in the current directory, and every open of a name reaches the file its first open reached
// (the engine's pins). The first error ends the clean-up and passes on unchanged; what was done
// before it stays done. Every database is released before returning.
void CleanupDatabases(EngineHolder& engine);

}  // namespace tarnu::dbmaint
