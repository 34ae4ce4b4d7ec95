#pragma once
// The engine on a PostgreSQL server, through libpq. Only the factory includes this.
#include "data/engine.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace ado::postgres {

// Connects as `user` (the schema's owner when empty); throws ServerDown, RefusedLogin or Tls,
// and never sends a password to a server whose certificate did not verify. Waits for a lock
// up to `busyMs`; `file` names the settings the connection came from, for messages.
std::unique_ptr<Engine> connect(const QString& conninfo, const QString& user,
                                const QByteArray& password, int busyMs, const QString& file);

// The role a diary user logs in as: dv_ and the md5 of his name, ASCII letters folded.
QString roleOf(const QString& name);
// The guest every client may log in as, to read the public records and to register.
extern const char* const kGuestRole;
extern const char* const kGuestPassword;

} // namespace ado::postgres
