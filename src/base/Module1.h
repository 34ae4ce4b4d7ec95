#pragma once
// Shared state of one run; kept in memory only, never written to disk.
#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <functional>

namespace Module1 {
inline QString SkinPath;       // skin chosen in this run; empty means 16.jss
inline QString UserName;       // logged-in user, as stored
inline qint16 UserPopedom = 0; // 1 widens every search to all writers
inline bool ResizeEnabled = false;

// Back to the start values (a new run, or a test).
void reset();
} // namespace Module1

namespace app {
// The folder of the executable; tests point it elsewhere.
QString appFolder();
void setAppFolder(const QString& folder);

// Today's date and time; tests replace the clock.
QDateTime now();
void setClock(std::function<QDateTime()> clock);
} // namespace app
