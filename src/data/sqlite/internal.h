#pragma once
// Inside the embedded engine only.
#include "data/engine.h"

#include <QByteArray>
#include <QString>

struct sqlite3;

namespace ado::sqlite {

// An SQLite result code as the kind of failure it is.
Error failure(int rc, const QString& message, const QString& file);

// The objects of the file against what the program makes.
SchemaReport inspect(Engine& engine);
// The key tables, as every version made them.
extern const char* const kKeyTablesSql;

// The file checks before the engine touches it; each throws what it found.
void refuseShared(const QByteArray& database, const QString& path);
void matchLogPermissions(const QByteArray& database, const QString& path);
bool cutShort(const QByteArray& database);

} // namespace ado::sqlite
