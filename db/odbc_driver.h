// The ODBC driver (unixODBC driver manager and any ODBC driver).
#pragma once

#include <memory>
#include <string>

#include "db/driver.h"

namespace morvex {

// Connects with an ODBC connection string ("DSN=name;UID=...;PWD=..." or
// "Driver={...};Server=...") through SQLDriverConnect, without prompting.
// `password` is masked in every message. A failure raises EMorvexError
// "Cannot connect to database! <the driver manager's diagnostics>".
//
// Nested statements need a driver that keeps several statements active on
// one connection. psqlODBC does so when it reads result sets through cursors
// (UseDeclareFetch=1, which also keeps memory flat); without that setting it
// reads each whole result into memory first. So with psqlODBC the connection
// turns UseDeclareFetch on unless the connection string sets it (either way)
// or the data source already has it on.
std::unique_ptr<TDbConnection> OpenOdbcConnection(const std::string& connectionString,
                                                  const std::string& password);

}  // namespace morvex
