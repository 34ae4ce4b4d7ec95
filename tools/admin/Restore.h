#pragma once
// A server's diary back from its backup (pg_dump's custom format), into the empty database a
// fresh server setup made.
#include <QByteArray>
#include <QString>

namespace ado {
class Connection;
}

namespace admin {

// `to` is the server database as its owner, holding no table yet. In one transaction: the
// schema as init makes it, the rows of the diary's tables and the entry numbers from `dump`,
// the administrator key proven by `recoveryText` and pinned beside the settings, and every
// user's role made again from the verifier the dump keeps (administrators in
// dayvault_admins). Throws Refused for a database with tables, a dump of another diary, or a
// user without a stored verifier.
void restore(ado::Connection& to, const QString& dump, const QByteArray& recoveryText);

} // namespace admin
