#pragma once
// Moving a diary from its embedded file to a server database that has no tables yet.
#include <QString>

namespace ado {
class Connection;
}

namespace admin {

// Copies users (each given his role, his verifier made from the stored check value), key rows
// and sealed entries as they are, IDs kept, in one transaction; then compares a count and a
// digest of every row on both sides. `from` is the file, opened and pinned; `to` the server
// database as its owner. Throws Refused for what cannot move: plain entries, old records.
void migrate(ado::Connection& from, ado::Connection& to);

} // namespace admin
