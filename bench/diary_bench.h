#pragma once
// What the diary benchmarks share: a silent set of boxes, a scratch folder with a database the
// program made, and a user logged in through the real session.
#include "Report.h"
#include "Sealed.h"
#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "data/ado.h"
#include "data/myClass.h"
#include "shell/Dialogs.h"
#include "shell/Locale.h"
#include "shell/Navigation.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Boxes answer at once: OK, Yes. A hook sees each message as it is shown.
class QuietDialogs : public app::Dialogs {
public:
    std::function<void(const QString&)> onMessage;
    void message(QWidget*, const QString& text, const QString&, app::Icon) override {
        if (onMessage)
            onMessage(text);
    }
    bool ask(QWidget*, const QString&, const QString&) override { return true; }
    QString input(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(QWidget*, const QString&) override { return {}; }
};

inline void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// A running application over a fresh, empty database in a temporary folder; the session's
// keys are the windows' keys.
struct Session {
    QTemporaryDir dir;
    QuietDialogs* dialogs = new QuietDialogs;
    vault::KeyRing keys;
    Database db;

    Session() : db(dir.filePath(QStringLiteral("data"))) {
        myClass::useKeys(&keys);
        app::setAppFolder(dir.path());
        app::Dialogs::install(dialogs);
        app::setOnAllUnloaded([] {});
        app::registerForms();
    }
    ~Session() { myClass::useKeys(nullptr); }
    QString dbPath() const { return db.path; }

    // Logs `name` in as the login window does, adding him first (with the administrator key
    // for permission 1): his keys in the session's ring, his name and permission shared.
    void logIn(const QString& name, qint16 popedom = 0) {
        db.addUser(name, popedom == 1);
        ado::Connection c;
        db.logIn(c, keys, name, popedom == 1);
        Module1::UserName = name;
        Module1::UserPopedom = popedom;
    }
};

// Offscreen unless told otherwise, so the benchmark runs without a display.
inline void useOffscreenByDefault() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
}

} // namespace bench
