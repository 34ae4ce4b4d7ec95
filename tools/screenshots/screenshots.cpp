// dayvault-screenshots APPDIR OUTDIR: shows each window of the list below as a user sees it,
// with the skins staged in APPDIR and a small diary of its own, and saves it as
// OUTDIR/<name>.png. To add a window, add one entry to shots(): a file name and a function
// that builds the window (shown and grabbed afterwards).
#include "accounts/Session.h"
#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "caption/JSCAPTION.h"
#include "data/ado.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "diary/frmLook.h"
#include "diary/frmWrite.h"
#include "shell/Locale.h"
#include "shell/Navigation.h"
#include "vault/KeyRing.h"
#include "vault/Keys.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct Shot {
    QString file;
    std::function<QWidget*()> make;
    // Runs after the window is shown, before it is grabbed (pointer positions and such).
    std::function<void(QWidget*)> prepare = {};
};

QIcon diaryIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0xC0, 0x50, 0x40));
    p.setPen(QPen(QColor(0x70, 0x20, 0x18), 1.5));
    p.drawRoundedRect(QRectF(5, 3, 22, 26), 3, 3);
    p.setBrush(QColor(0xF8, 0xF0, 0xE0));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(10, 7, 14, 18));
    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
    for (int y = 11; y <= 21; y += 4)
        p.drawLine(12, y, 22, y);
    return QIcon(pm);
}

const QString kName = u"张三"_s, kPassword = u"screenshots"_s;

// A diary of two entries by 张三, sealed with his key as the program stores them, in a folder
// of its own next to copies of the skins.
bool makeDiary(const QString& from, const QString& folder) {
    QDir(folder).mkpath(u"data"_s);
    for (const QString& skin : {u"16.jss"_s, u"silver.jss"_s})
        if (!QFile::copy(QDir(from).filePath(skin), QDir(folder).filePath(skin)))
            return false;
    const QString db = QDir(folder).filePath(u"data/data.mdb"_s);
    const QString& name = kName;
    try {
        const QByteArray recovery = ado::createDatabase(db);
        ado::Connection c;
        vault::KeyRing admin;
        c.ConnectionString = u"data source="_s + db;
        c.keys = &admin;
        c.Open();
        admin.bindTo(c.adminPublic());
        const auto adminKey = vault::adminKeyFromRecovery(c.keyStore(), recovery);
        if (!adminKey || !admin.keepAdminKey(adminKey->copy()))
            return false;
        accounts::addUser(c, name, kPassword);
        const auto add = [&](const QString& title, const QString& weather, const QString& content,
                             const QString& time) {
            sql::Statement s{u"insert into JR_content(B_title,B_weather,B_content,B_writer,B_time) "
                             u"values(?,?,?,?,?)"_s,
                             {{u"B_title"_s, title},
                              {u"B_weather"_s, weather},
                              {u"B_content"_s, content},
                              {u"B_writer"_s, name},
                              {u"B_time"_s, time}}};
            s.entry = sql::Statement::Entry::Insert;
            c.Execute(s);
        };
        add(u"春游"_s, u"晴"_s,
            u"今天和同学去西湖春游。\n湖边的柳树发了新芽，风一吹，满眼都是绿色。\n"
            u"中午在断桥边吃了自带的午饭，下午划船到三潭印月。"_s,
            u"2024-3-2 18:20:05"_s);
        add(u"读书笔记"_s, u"多云"_s, u"《平凡的世界》第一部读完了。"_s, u"2024-3-5 21:47:30"_s);
        c.Close();
        return true;
    } catch (const ado::Error&) {
        return false;
    }
}

// His session's keys, as the login window opens them (its own shot wipes them).
bool logIn(vault::KeyRing& session) {
    try {
        ado::Connection s;
        s.ConnectionString = myClass::connectionString();
        s.keys = &session;
        s.Open();
        ado::Recordset rs;
        rs.Open(sql::userQuery(kName), s);
        const QString stored = rs.Fields(u"B_password"_s).toString();
        const accounts::Unlocked check = accounts::checkLogin(s, kName, kPassword, stored, true);
        return check.ok &&
               accounts::startSession(s, session, kName, kPassword, stored, check, false).isEmpty();
    } catch (const ado::Error&) {
        return false;
    }
}

QWidget* loadForm(app::FormId id) {
    QWidget* w = app::load(id);
    w->setWindowIcon(diaryIcon());
    return w;
}

void hoverClose(QWidget* w) {
    auto* bar = w->findChild<JSCAPTION*>(u"JSCAPTION1"_s);
    const QPoint c = bar->buttonRect(JSCAPTION::CloseButton).center();
    bar->UserControl_MouseMove(0, 0, float(c.x()), float(c.y()));
}

QList<Shot> shots() {
    return {
        {u"login"_s,
         [] {
             QWidget* w = loadForm(app::FormId::Login);
             w->findChild<QLineEdit*>(u"txtUserName"_s)->setText(u"张三"_s);
             return w;
         }},
        {u"write-default"_s,
         [] {
             auto* w = static_cast<frmWrite*>(loadForm(app::FormId::Write));
             w->B_Title_text->setText(u"周末"_s);
             w->B_Content_text->setPlainText(u"上午去图书馆还书，借了两本新书。\n"
                                             u"下午整理房间，把冬天的衣服收了起来。"_s);
             return w;
         }},
        {u"write-silver"_s,
         [] {
             Module1::SkinPath = QDir(app::appFolder()).filePath(u"silver.jss"_s);
             QWidget* w = loadForm(app::FormId::Write);
             Module1::SkinPath.clear();
             return w;
         },
         hoverClose},
        {u"look-entry"_s,
         [] {
             auto* w = static_cast<frmLook*>(loadForm(app::FormId::Look));
             w->queryComm->click();
             return w;
         }},
        {u"month"_s, [] { return loadForm(app::FormId::Month); }},
    };
}

// Lets the window system catch up: the window shown and exposed, pending paints done.
bool settle(QWidget* w, int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (t.elapsed() > ms / 2 && w->windowHandle() && w->windowHandle()->isExposed())
            return true;
    }
    return w->windowHandle() && w->windowHandle()->isExposed();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: dayvault-screenshots APPDIR OUTDIR\n");
        return 2;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    app::installChinese(app);
    app::registerForms();
    app::setOnAllUnloaded([] {});
    QTemporaryDir folder;
    vault::KeyRing session;
    if (!folder.isValid() || !makeDiary(QString::fromLocal8Bit(argv[1]), folder.path())) {
        std::fprintf(stderr, "cannot set up a diary from %s\n", argv[1]);
        return 1;
    }
    app::setAppFolder(folder.path());
    myClass::useKeys(&session);
    // The same pictures on every run: a fixed day, a fixed user.
    app::setClock([] { return QDateTime(QDate(2024, 3, 7), QTime(10, 30)); });
    Module1::UserName = kName;

    const QDir out(QString::fromLocal8Bit(argv[2]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[2]);
        return 1;
    }
    int failed = 0;
    for (const Shot& shot : shots()) {
        if (!logIn(session)) {
            std::fprintf(stderr, "cannot log in to the diary\n");
            return 1;
        }
        QWidget* w = shot.make();
        app::show(w);
        if (!settle(w, 3000))
            std::fprintf(stderr, "%s: window not exposed\n", qPrintable(shot.file));
        if (shot.prepare)
            shot.prepare(w);
        settle(w, 200);
        const QString path = out.filePath(shot.file + u".png"_s);
        if (w->grab().save(path)) {
            std::printf("%s\n", qPrintable(path));
        } else {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failed;
        }
        app::unload(w);
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QApplication::processEvents();
        }
    }
    return failed ? 1 : 0;
}
