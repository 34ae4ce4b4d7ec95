#pragma once
// The embedded engine: one person's diary in a file. Only the factory includes this.
#include "data/engine.h"

#include <QString>
#include <memory>

namespace ado::sqlite {

// Opens the file read-write, never making it; refuses a file others can write, a planted
// link beside it and a file cut short. Waits up to `busyMs` for another program's lock.
std::unique_ptr<Engine> open(const QString& path, int busyMs);
// A new file (mode 0600) with the diary's schema; refuses an existing one.
void createFile(const QString& path);
// An online copy of the file into `out`, an empty file made by the caller.
void backup(const QString& path, const QString& out, int busyMs);

} // namespace ado::sqlite
