// Process start to login window shown (against an empty Qt window), and one login check of a
// user with a data key.
#include "Report.h"
#include "Sealed.h"
#include "accounts/Password.h"
#include "accounts/frmLogin.h"
#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "data/myClass.h"
#include "shell/Locale.h"
#include "shell/Navigation.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double monoMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Prints the moment the first window is exposed, then leaves.
class ShownProbe : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Expose && o->isWindowType()) {
            std::printf("%.3f\n", monoMs());
            std::fflush(stdout);
            std::_Exit(0);
        }
        return false;
    }
};

int child(const QString& kind, int argc, char** argv) {
    QApplication qapp(argc, argv);
    ShownProbe probe;
    qapp.installEventFilter(&probe);
    if (kind == QLatin1String("empty")) {
        auto* w = new QWidget;
        w->show();
    } else {
        QApplication::setQuitOnLastWindowClosed(false);
        app::installChinese(qapp);
        app::registerForms();
        app::show(app::load(app::FormId::Login));
    }
    return QApplication::exec();
}

double startOnce(const QString& self, const QString& kind) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    const double t0 = monoMs();
    p.start(self, {QStringLiteral("--child"), kind});
    p.waitForFinished(30000);
    return QString::fromLatin1(p.readAllStandardOutput()).trimmed().toDouble() - t0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && QByteArray(argv[1]) == "--child")
        return child(QString::fromLatin1(argv[2]), argc, argv);

    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication qapp(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    const int runs = 20;
    std::vector<double> app, empty;
    for (int i = 0; i < runs; ++i) {
        empty.push_back(startOnce(self, QStringLiteral("empty")));
        app.push_back(startOnce(self, QStringLiteral("login")));
    }
    const double a = bench::median(app), e = bench::median(empty);
    bench::report(QStringLiteral("start to login window (median of 20)"), a, "ms",
                  QStringLiteral("< 150"), {QStringLiteral("empty Qt window"), e});

    // One login check: the press of 确定 for a user with a password record and a data key, his
    // keys then kept in the session's ring.
    QTemporaryDir dir;
    const bench::Database db(dir.filePath(QStringLiteral("data")));
    app::setAppFolder(dir.path());
    db.addUser(QStringLiteral("ann"));
    vault::KeyRing keys;
    myClass::useKeys(&keys);
    QApplication::setQuitOnLastWindowClosed(false);
    app::registerForms();
    app::setOnAllUnloaded({});
    std::vector<double> checks;
    for (int i = 0; i < runs; ++i) {
        auto* login = qobject_cast<frmLogin*>(app::load(app::FormId::Login));
        login->txtUserName->setText(QStringLiteral("ann"));
        login->txtPassword->setText(bench::passwordOf(QStringLiteral("ann")));
        QElapsedTimer t;
        t.start();
        login->cmdOK_Click();
        checks.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!app::loaded(app::FormId::Write)) {
            std::fprintf(stderr, "the login did not go through\n");
            return 1;
        }
        app::unload(app::loaded(app::FormId::Write));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    bench::report(QStringLiteral("login check (median of 20)"), bench::median(checks), "ms",
                  QStringLiteral("< 150"));
    frmLogin::resetRun();
    myClass::useKeys(nullptr);
    return 0;
}
