#include "support/TempApp.h"

#include "accounts/Password.h"
#include "accounts/frmLogin.h"
#include "base/Module1.h"
#include "base/Twips.h"
#include "data/ado.h"
#include "data/statements.h"
#include "shell/Navigation.h"
#include "skin/SkinCache.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QWidget>
#include <sqlite3.h>

void TempApp::settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

namespace {
void resetRun() {
    app::setClock({});
    app::setOnAllUnloaded({});
    app::Twips::setFactors(0, 0);
    Module1::reset();
    frmLogin::resetRun();
    skin::SkinCache::clear();
    ado::setBusyTimeout(200);
    accounts::setCheapHashesForTests(true);
    accounts::failHashingForTests(false);
}
} // namespace

void TempApp::SetUp() {
    ASSERT_TRUE(dir.isValid());
    resetRun();
    QDir(dir.path()).mkpath(u"data"_s);
    ado::createDatabase(dbPath());
    app::setAppFolder(dir.path());
    dialogs = &fake::installDialogs();
    desktop = &fake::installDesktop();
    endedCount = 0;
    app::setOnAllUnloaded([this] { ++endedCount; });
}

void TempApp::TearDown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->testAttribute(Qt::WA_DeleteOnClose))
            w->close();
    settle();
    resetRun();
    app::setAppFolder(QString());
}

QString TempApp::dbPath() const {
    return dir.filePath(u"data/data.mdb"_s);
}

void TempApp::exec(const QString& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err);
    const QString msg = QString::fromUtf8(err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << msg.toStdString();
}

QVariant TempApp::scalar(const QString& sql) {
    sqlite3* db = nullptr;
    QVariant out;
    if (sqlite3_open(dbPath().toUtf8().constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        ADD_FAILURE() << "cannot open the database";
        return out;
    }
    sqlite3_stmt* st = nullptr;
    const QByteArray q = sql.toUtf8();
    if (sqlite3_prepare_v2(db, q.constData(), int(q.size()), &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
        if (sqlite3_column_type(st, 0) == SQLITE_INTEGER)
            out = QVariant::fromValue<qint64>(sqlite3_column_int64(st, 0));
        else if (sqlite3_column_type(st, 0) != SQLITE_NULL)
            out = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                                    sqlite3_column_bytes(st, 0));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

void TempApp::addUser(const QString& name, const QString& password, int popedom) {
    const QString n = accounts::normalise(name);
    exec(u"insert into JR_user(B_user,B_password,popedom) values('%1','%2',%3)"_s
             .arg(sql::quote(n), accounts::hashPassword(accounts::normalise(password)))
             .arg(popedom));
}

QByteArray TempApp::fileBytes() const {
    QByteArray all;
    for (const QString& suffix : {QString(), u"-wal"_s}) {
        QFile f(dbPath() + suffix);
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}

void TempApp::writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}
