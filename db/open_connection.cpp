// The driver factory: the only file in db/ that knows the drivers. It turns
// the items of a connection string into what each driver takes.
#include "db/open_connection.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "db/connection_string.h"
#include "db/odbc_driver.h"
#include "db/postgres_driver.h"
#include "db/sqlite_driver.h"
#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

bool IsPostgresAddress(std::string_view text) {
  return StartsWithIgnoringAsciiCase(text, "postgresql://") ||
         StartsWithIgnoringAsciiCase(text, "postgres://");
}

// "PostgreSQL.1" -> "postgresql": providers are named with a version suffix
// as often as without.
std::string ProviderBaseName(std::string_view provider) {
  std::string name = AsciiLower(TrimBlanks(provider));
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size() &&
      name.find_first_not_of("0123456789", dot + 1) == std::string::npos) {
    name.resize(dot);
  }
  return name;
}

std::unique_ptr<TDbConnection> OpenSqlite(const std::vector<TConnectionStringItem>& items) {
  const std::string* path = FindConnectionValue(items, {"data source"});
  if (path == nullptr || path->empty()) {
    throw CannotConnectError("The connection string names no Data Source");
  }
  int timeoutMs = kSqliteBusyTimeoutMs;
  if (const std::string* timeout = FindConnectionValue(items, {"timeout"})) {
    // Seconds, as OLE DB providers take them; fractions allowed.
    double seconds = -1;
    const std::string_view text = TrimBlanks(*timeout);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !(seconds >= 0)) {
      throw InvalidConnectionString("Timeout must be a number of seconds");
    }
    timeoutMs = static_cast<int>(std::min(seconds * 1000, 2147483647.0));
  }
  return OpenSqliteConnection(*path, timeoutMs);
}

// OLE DB names of the connection settings onto libpq's keywords; anything
// else passes through as a libpq keyword (sslmode, connect_timeout, ...).
// A postgresql:// address as the Data Source (or Server, Host) is a
// connection URI, never a host name: it goes first, to be expanded, so that
// the other items of the string override what it says (libpq uses the last
// value of a keyword); of several such addresses the last counts.
std::unique_ptr<TDbConnection> OpenPostgres(const std::vector<TConnectionStringItem>& items) {
  std::vector<std::pair<std::string, std::string>> keywords;
  const std::string* uri = nullptr;
  for (const auto& item : items) {
    std::string keyword;
    if (ConnectionKeyIs(item.Key, {"provider", "persist security info"})) continue;
    if (ConnectionKeyIs(item.Key, {"data source", "server", "host"})) {
      if (IsPostgresAddress(TrimBlanks(item.Value))) {
        uri = &item.Value;
        continue;
      }
      keyword = "host";
    } else if (ConnectionKeyIs(item.Key, {"initial catalog", "database", "dbname"})) {
      keyword = "dbname";
    } else if (ConnectionKeyIs(item.Key, {"user id", "uid", "user", "username", "user name"})) {
      keyword = "user";
    } else if (ConnectionKeyIs(item.Key, {"password", "pwd"})) {
      keyword = "password";
    } else if (ConnectionKeyIs(item.Key, {"connect timeout", "connection timeout", "timeout"})) {
      keyword = "connect_timeout";
    } else {
      keyword = AsciiLower(item.Key);
    }
    keywords.emplace_back(std::move(keyword), item.Value);
  }
  if (uri) keywords.emplace(keywords.begin(), "dbname", std::string(TrimBlanks(*uri)));
  return OpenPostgresConnection(keywords, uri != nullptr);
}

// A value in ODBC syntax: braces around values that hold separators or
// braces, or that begin or end with a blank.
std::string OdbcValue(std::string_view key, const std::string& value) {
  bool needsBraces = value.find_first_of(";{}=") != std::string::npos ||
                     (!value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                                         kBlanks.find(value.back()) != std::string_view::npos)) ||
                     (ConnectionKeyIs(key, {"driver"}) && value.find(' ') != std::string::npos);
  if (!needsBraces) return value;
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

// The ODBC connection string: the items without Provider, with the OLE DB
// names of the common settings turned into the ODBC ones.
std::unique_ptr<TDbConnection> OpenOdbc(const std::vector<TConnectionStringItem>& items) {
  bool hasTarget = FindConnectionValue(items, {"dsn", "driver", "filedsn"}) != nullptr;
  std::string text;
  std::string password;
  for (const auto& item : items) {
    std::string key = item.Key;
    if (ConnectionKeyIs(key, {"provider", "persist security info"})) continue;
    if (ConnectionKeyIs(key, {"data source"})) {
      if (hasTarget) continue;
      key = "DSN";
    } else if (ConnectionKeyIs(key, {"user id"})) {
      key = "UID";
    } else if (ConnectionKeyIs(key, {"password", "pwd"})) {
      key = "PWD";
      password = item.Value;
    } else if (ConnectionKeyIs(key, {"initial catalog"})) {
      key = "DATABASE";
    }
    text += key + "=" + OdbcValue(key, item.Value) + ";";
  }
  return OpenOdbcConnection(text, password);
}

}  // namespace

TDriverKind SelectDriver(std::string_view connectionString, std::string& problem) {
  problem.clear();
  const std::string_view text = TrimBlanks(connectionString);
  if (IsPostgresAddress(text)) return TDriverKind::Postgres;
  const std::vector<TConnectionStringItem> items = ParseConnectionString(text);
  if (const std::string* provider = FindConnectionValue(items, {"provider"})) {
    const std::string name = ProviderBaseName(*provider);
    if (name == "sqlite") return TDriverKind::Sqlite;
    if (name == "postgresql") return TDriverKind::Postgres;
    if (name == "msdasql") return TDriverKind::Odbc;
    problem = "Unknown provider: " + std::string(TrimBlanks(*provider));
    return TDriverKind::None;
  }
  if (FindConnectionValue(items, {"driver", "dsn", "filedsn"}) != nullptr) return TDriverKind::Odbc;
  if (FindConnectionValue(items, {"data source"}) != nullptr) return TDriverKind::Sqlite;
  problem = "The connection string names neither a Provider nor a Data Source";
  return TDriverKind::None;
}

std::unique_ptr<TDbConnection> OpenConnection(const std::string& connectionString) {
  const std::string_view text = TrimBlanks(connectionString);
  std::string problem;
  const TDriverKind driver = SelectDriver(text, problem);
  if (driver == TDriverKind::Postgres && IsPostgresAddress(text)) {
    return OpenPostgresConnection({{"dbname", std::string(text)}}, true);
  }
  const std::vector<TConnectionStringItem> items = driver == TDriverKind::None
                                                       ? std::vector<TConnectionStringItem>{}
                                                       : ParseConnectionString(text);
  switch (driver) {
    case TDriverKind::Sqlite:
      return OpenSqlite(items);
    case TDriverKind::Postgres:
      return OpenPostgres(items);
    case TDriverKind::Odbc:
      return OpenOdbc(items);
    case TDriverKind::None:
      break;
  }
  throw CannotConnectError(problem);
}

}  // namespace morvex
