#pragma once
// The one place that knows the engines: which one a connection string names, and each one's
// opening and administration. Everything else in the data layer sees only the interface.
#include "data/engine.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace ado {

// What a connection string names: the embedded file ("data source=PATH"), or a server
// ("provider=postgresql;pins=FOLDER;[as=owner;]conninfo=...").
struct StoreTarget {
    bool server = false;
    QString file;     // the database file, or the settings file beside the server's pinned keys
    QString conninfo; // the server's
    bool owner = false;
};
StoreTarget targetOf(const QString& connectionString);

// Opens the engine of `target`; on a server as `user` (the guest when empty, unless the
// target is the owner's). Waits for another's lock up to `busyMs`.
std::unique_ptr<Engine> openEngine(const StoreTarget& target, const QString& user,
                                   const QByteArray& password, int busyMs);

// The embedded engine's file administration.
void createFile(const QString& path);
void backupFile(const QString& path, const QString& out, int busyMs);

} // namespace ado
