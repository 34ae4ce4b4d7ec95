#pragma once
// The base of every fixture: a temporary application folder with a fresh data/data.mdb, and
// all run state reset around each test (shared state, clock, fakes, loaded windows, the
// login's counters, the skin cache, twips, lock wait and hash cost).
#include "support/Fakes.h"

#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

class TempApp : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString dbPath() const;
    // Runs SQL straight on the file, outside the application's connections.
    void exec(const QString& sql);
    QVariant scalar(const QString& sql);
    int count(const QString& sql) { return scalar(sql).toInt(); }
    // Adds a user the way registration stores one (normalised name, hashed password).
    void addUser(const QString& name, const QString& password, int popedom = 0);
    // Raw bytes of the database file and its write-ahead log.
    QByteArray fileBytes() const;
    static void writeFile(const QString& path, const QByteArray& bytes);
    // Lets posted events, deferred deletes and zero timers run.
    static void settle();

    QTemporaryDir dir;
    fake::Dialogs* dialogs = nullptr;
    fake::Desktop* desktop = nullptr;
    int endedCount = 0; // times the process would have ended
};
