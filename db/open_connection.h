// The driver factory. A connection string names its driver by its Provider:
//   Provider=SQLite;Data Source=path          SQLite (also: only Data Source)
//   Provider=PostgreSQL;Data Source=host;...  libpq (also postgresql:// URIs)
//   Provider=MSDASQL;..., or Driver=/DSN=     ODBC through the driver manager
// A provider name may carry a version suffix ("PostgreSQL.1", "MSDASQL.1").
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/driver.h"

namespace morvex {

// The driver a connection string selects.
enum class TDriverKind { None, Sqlite, Postgres, Odbc };

// The driver `connectionString` names, without connecting: None with `problem`
// set ("Unknown provider: <name>", or that it names neither a Provider nor a
// Data Source) when it names none. Raises EMorvexError like
// ParseConnectionString for a string that does not parse.
TDriverKind SelectDriver(std::string_view connectionString, std::string& problem);

// Opens a connection with the driver the string names. Every failure raises
// EMorvexError with a message that starts "Cannot connect to database! " and
// never holds the password: an unknown provider ("Unknown provider: <name>"),
// a SQLite database file that does not exist (never created here), or the
// server's or driver manager's own reason.
std::unique_ptr<TDbConnection> OpenConnection(const std::string& connectionString);

}  // namespace morvex
