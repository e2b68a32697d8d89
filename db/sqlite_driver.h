// The SQLite driver (libsqlite3), the embedded default database.
#pragma once

#include <memory>
#include <string>

#include "db/driver.h"

namespace morvex {

// Opens the existing SQLite database file `path` for reading and writing, or
// a private in-memory database for ":memory:". A missing file is never
// created: that and a file that is not a database raise EMorvexError
// "Cannot connect to database! <reason>: <path>". Waits up to five seconds
// for a lock another process holds before a statement fails as busy.
std::unique_ptr<TDbConnection> OpenSqliteConnection(const std::string& path);

}  // namespace morvex
