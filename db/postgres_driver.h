// The PostgreSQL driver (libpq).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/driver.h"

namespace morvex {

// Connects with libpq keyword/value pairs (host, port, dbname, user,
// password, sslmode, ...). With `expandDbname` the value of the first
// "dbname" may be a whole connection string or a postgresql:// URI, whose
// settings the later pairs override. The
// session talks UTF-8 and ISO dates; server notices are dropped. A failure
// raises EMorvexError "Cannot connect to database! <libpq's reason>", on one
// line and without the password.
std::unique_ptr<TDbConnection> OpenPostgresConnection(
    const std::vector<std::pair<std::string, std::string>>& keywords, bool expandDbname);

}  // namespace morvex
