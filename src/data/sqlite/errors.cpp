#include "data/sqlite/internal.h"

#include <QFileInfo>
#include <sqlite3.h>

namespace ado::sqlite {

Error failure(int rc, const QString& message, const QString& file) {
    // The engine keeps its log files beside the database and cannot work without them.
    const QFileInfo info(file);
    const bool folderShut =
        !file.isEmpty() && info.exists() && !QFileInfo(info.absolutePath()).isWritable();
    Failure kind = Failure::Other;
    switch (rc & 0xff) {
    case SQLITE_CANTOPEN:
        kind = folderShut ? Failure::FolderShut : Failure::CannotOpen;
        break;
    case SQLITE_NOTADB:
        kind = Failure::NotADatabase;
        break;
    case SQLITE_CORRUPT:
        kind = Failure::Corrupt;
        break;
    case SQLITE_READONLY:
        kind = folderShut && info.isWritable() ? Failure::FolderShut : Failure::ReadOnly;
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        kind = Failure::Busy;
        break;
    case SQLITE_FULL:
        kind = Failure::Full;
        break;
    case SQLITE_IOERR:
        kind = Failure::Io;
        break;
    case SQLITE_CONSTRAINT:
        kind = rc == SQLITE_CONSTRAINT_UNIQUE ? Failure::Duplicate : Failure::Constraint;
        break;
    case SQLITE_MISUSE:
        kind = Failure::Misuse;
        break;
    default:
        if (message.contains(QStringLiteral("no such table")))
            kind = Failure::NoSuchTable;
        else if (message.contains(QStringLiteral("pattern too complex")))
            kind = Failure::TooComplex; // the engine's LIKE limit
    }
    return Error(kind, message, rc, file);
}

} // namespace ado::sqlite
