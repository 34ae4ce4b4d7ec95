#pragma once
// What every test stands on: scripted boxes and platform calls, a temporary application
// folder, test skins, and the program's windows ready to be driven.
#include "accounts/frmLogin.h"
#include "base/Module1.h"
#include "base/Twips.h"
#include "caption/JSCAPTION.h"
#include "data/ado.h"
#include "diary/frmLook.h"
#include "diary/frmWrite.h"
#include "forms/SkinnedForm.h"
#include "shell/Desktop.h"
#include "shell/Dialogs.h"
#include "shell/Navigation.h"
#include "skin/SkinFile.h"
#include "vault/KeyRing.h"

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QVariant>
#include <QWidget>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

// Scripted stand-ins for the modal boxes and the platform calls.

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace fake {

struct Box {
    enum Kind { Message, Ask, Input, OpenFile } kind;
    QString text; // message text, question, prompt or filter
    QString title{};
    app::Icon icon = app::Icon::None;
};

class Dialogs : public app::Dialogs {
public:
    std::vector<Box> boxes;
    std::deque<bool> askAnswers;           // empty queue answers Yes
    std::deque<QString> inputAnswers;      // empty queue answers Cancel (empty text)
    std::deque<QString> fileAnswers;       // empty queue answers Cancel
    std::function<void(const Box&)> onBox; // runs while the box is "open"

    void message(QWidget*, const QString& text, const QString& title, app::Icon icon) override {
        record({Box::Message, text, title, icon});
    }
    bool ask(QWidget*, const QString& text, const QString& title) override {
        return record({Box::Ask, text, title}), next(askAnswers, true);
    }
    QString input(QWidget*, const QString& prompt, const QString& title, const QString&) override {
        return record({Box::Input, prompt, title}), next(inputAnswers, QString());
    }
    QString openFile(QWidget*, const QString& filter) override {
        return record({Box::OpenFile, filter}), next(fileAnswers, QString());
    }

    QStringList texts() const;
    const Box& last() const { return boxes.back(); }

private:
    void record(const Box& b) {
        boxes.push_back(b);
        if (onBox)
            onBox(boxes.back());
    }
    // The next scripted answer, or `none` once the script is used up.
    template <class T> static T next(std::deque<T>& script, T none) {
        if (script.empty())
            return none;
        T a = std::move(script.front());
        script.pop_front();
        return a;
    }
};

class Desktop : public app::Desktop {
public:
    std::vector<QUrl> opened;
    std::vector<std::pair<QWidget*, bool>> topMost;
    std::vector<QWidget*> moves;
    std::vector<std::pair<QWidget*, Qt::Edges>> resizes;
    bool acceptMove = true;
    bool acceptResize = true;
    bool acceptUrl = true;
    std::optional<QRect> area = QRect(0, 0, 1920, 1040);

    bool openUrl(const QUrl& url) override { return opened.push_back(url), acceptUrl; }
    void setTopMost(QWidget* w, bool on) override { topMost.emplace_back(w, on); }
    bool startMove(QWidget* w) override { return moves.push_back(w), acceptMove; }
    bool startResize(QWidget* w, Qt::Edges e) override {
        return resizes.emplace_back(w, e), acceptResize;
    }
    std::optional<QRect> workArea(QWidget*) override { return area; }
};

// Installs a fresh fake and returns it; the app owns it.
template <class Fake> Fake& install() {
    auto* f = new Fake;
    Fake::install(f);
    return *f;
}

} // namespace fake

// The base of every fixture: a temporary application folder with a fresh data/data.mdb, and
// all run state reset around each test (shared state, clock, fakes, loaded windows, the
// login's counters, the skin cache, twips, lock wait and hash cost).

using namespace Qt::StringLiterals;

class TempApp : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString dbPath() const { return dir.filePath(u"data/data.mdb"_s); }
    // Runs SQL straight on the file, outside the application's connections.
    QVariant scalar(const QString& sql);
    void exec(const QString& sql) { scalar(sql); }
    int count(const QString& sql) { return scalar(sql).toInt(); }
    // Adds a user the way registration does (normalised name, record and data key); one
    // with permission 1 is granted the administrator key too.
    void addUser(const QString& name, const QString& password, int popedom = 0);
    // A connection whose keys open and seal every writer's entries, through the recovery key.
    void openAsAdministrator(ado::Connection& c, vault::KeyRing& ring);
    void setPopedom(ado::Connection& c, vault::KeyRing& ring, const QString& name, int popedom);
    // Raw bytes of the database file and its write-ahead log.
    QByteArray fileBytes() const;
    static void writeFile(const QString& path, const QByteArray& bytes);
    // Lets posted events, deferred deletes and zero timers run.
    static void settle();

    QTemporaryDir dir;
    vault::KeyRing keys;                  // the session's, as the program holds them
    QByteArray recovery;                  // the recovery key of the fresh file
    std::map<QString, QString> passwords; // of the users added, by folded name
    fake::Dialogs* dialogs = nullptr;
    fake::Desktop* desktop = nullptr;
    int endedCount = 0; // times the process would have ended
};

// Test skins: a complete bag of every key, and the caption bar's solid-colour pieces, so one
// pixel tells which piece lies there.

namespace testskin {
QByteArray png(QSize size, QColor colour);
QByteArray bmp(QSize size, QColor colour);
// Every key of a complete skin; picture sizes can be changed per key afterwards.
skin::PropertyBag completeBag();
// Solid border pieces `width` px thick.
void borders(skin::PropertyBag& bag, int width, QColor colour);
// Writes the bag as a skin file and returns its path.
QString write(const QString& path, const skin::PropertyBag& bag);
} // namespace testskin

namespace capskin {
struct Piece {
    const char* key;
    QSize size;
    QColor colour;
};
// TOPLEFT first; button widths differ so positions show mistakes.
const QList<Piece>& pieces();
QString keyOf(const QColor& c); // "" for none

inline constexpr qint16 kXOffset = 5, kXOffset2 = 4, kYOffset = 6, kFromRight = 3, kFromTop = 5,
                        kIconSpace = 2;
inline constexpr quint32 kForeColor = 0x00112233u;  // shadow: RGB(0x33,0x22,0x11)
inline constexpr quint32 kBackColor = 0x00445566u;  // title: RGB(0x66,0x55,0x44)
inline constexpr quint32 kParentBack = 0x00778899u; // window: RGB(0x99,0x88,0x77)

// The pieces, metrics and colours over `base`.
skin::PropertyBag bag(skin::PropertyBag base = {});
} // namespace capskin

// A 400 x 300 frameless window at (50, 40) carrying the bar with the test skin; 15 twips/px.
class CaptionFixture : public TempApp {
protected:
    void SetUp() override {
        TempApp::SetUp();
        app::Twips::setFactors(15, 15);
        skinPath = testskin::write(dir.filePath(u"t.jss"_s), capskin::bag());
    }
    void TearDown() override { window.reset(), TempApp::TearDown(); }

    void makeWindow(const QVariantMap& settings = {}, bool show = true);
    // The piece drawn at (x, y) of the bar's backing image, or at a button's centre.
    QString at(int x, int y) const;
    QString atButton(JSCAPTION::Button b) const { return at(centre(b).x(), centre(b).y()); }
    QPoint centre(JSCAPTION::Button b) const { return bar->buttonRect(b).center(); }
    void moveTo(QPoint p);
    void moveTo(JSCAPTION::Button b) { moveTo(centre(b)); }

    QString skinPath;
    std::unique_ptr<QWidget> window;
    JSCAPTION* bar = nullptr;
};

// The program's windows over a temporary application folder: the diary windows with "alice"
// logged in and the clock at 2024-3-7 10:30, the login window, and the skinned windows
// with two solid-colour skins.

class DiaryApp : public TempApp {
protected:
    void SetUp() override;

    // Logs in through the real session, as the login window does; the user is added with
    // the password "<name>-pw" when absent. An empty name logs nobody in.
    void logIn(const QString& name, qint16 popedom = 0);
    void setNow(const QDateTime& t) {
        now_ = t, app::setClock([this] { return now_; });
    }
    template <class Form> static Form* shown(app::FormId id) {
        auto* w = qobject_cast<Form*>(app::load(id));
        app::show(w);
        return w;
    }
    static frmWrite* openWrite() { return shown<frmWrite>(app::FormId::Write); }
    static frmLook* openLook() { return shown<frmLook>(app::FormId::Look); }
    frmLook* look() const { return qobject_cast<frmLook*>(app::loaded(app::FormId::Look)); }
    // Adds an entry sealed by the program with its writer's key (id 0: the database
    // chooses); returns its ID. A writer who is not a user yet is added first.
    int addEntry(const QString& title, const QString& writer = u"alice"_s,
                 const QString& time = u"2024-3-1 8:00:00"_s, const QString& content = u"内容"_s,
                 int id = 0);
    // A stored field as the program opens it.
    QString column(const char* name, int id);
    // Title and text of every entry, as the program opens them.
    std::multimap<QString, QString> entries();
    // Every entry, or the one of `id`, opened with the keys of every writer.
    void readEntries(int id, const std::function<void(ado::Recordset&)>& each);

    // A real left click (an option button: on its circle).
    static void click(QWidget* w);
    // ASCII as key presses, anything else as an input method commits it.
    static void type(QWidget* w, const QString& text);
    static void retype(QLineEdit* box, const QString& text);
    // Select all, paste: the way any text, control characters included, reaches a box.
    static void paste(QWidget* box, const QString& text);
    // Leaves the diary windows for the login window, pastes both texts and presses `button`;
    // the writing window then open, if any.
    static frmWrite* useLogin(const QString& name, const QString& password,
                              QPushButton* frmLogin::*button = &frmLogin::cmdOK);
    // The kind chosen by clicking its option, its box filled, then "查询".
    static void search(frmLook* look, int kind, const QString& text = QString());
    // The count after "共有记录数：", 0 after "没有找到记录数".
    static int found(frmLook* look);
    // "title/writer" of every row of the result, stepping with ">", sorted.
    static QStringList rows(frmLook* look);
    QStringList takeTexts() {
        const QStringList t = dialogs->texts();
        return dialogs->boxes.clear(), t;
    }

    QDateTime now_;
    QString startsAs = u"alice"_s; // logged in when the test starts
};

// The login window, open and active, nobody logged in.
class LoginApp : public DiaryApp {
protected:
    void SetUp() override;
    void open();
    QLineEdit* edit(const char* name) { return login->findChild<QLineEdit*>(QLatin1String(name)); }
    void fill(const char* box, const QString& text);
    void press(const char* name) { click(login->findChild<QPushButton*>(QLatin1String(name))); }
    static bool loginOpen() { return app::loaded(app::FormId::Login) != nullptr; }

    const QString kFail = u"对不起，无此用户或者密码不正确！请重新输入！！"_s;
    frmLogin* login = nullptr;
};

// 16.jss (caption bar 30 px high, borders 5 px) and other.jss (24 px, 4 px) in the
// application folder, so a window's caption height and border colour tell its skin.
class SkinnedApp : public DiaryApp {
protected:
    void SetUp() override;

    struct SkinLook {
        int caption;
        int border;
        QColor colour;
    };
    static inline const SkinLook kDefault{30, 5, QColor(0x20, 0x40, 0xC0)};
    static inline const SkinLook kOther{24, 4, QColor(0xB0, 0xB0, 0xB8)};
    QString writeSkin(const QString& name, const SkinLook& look);

    std::vector<diary::SkinnedForm*> openBoth();
    // Which of the two skins the window's controls wear: "16", "other", or "mixed".
    QString skinOf(diary::SkinnedForm* form) const;

    QString defaultSkin, otherSkin;
};
