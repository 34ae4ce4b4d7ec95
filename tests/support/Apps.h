#pragma once
// The program's windows over a temporary application folder: the diary windows with "alice"
// logged in and the clock at 2024-3-7 10:30, the login window, and the skinned windows
// with two solid-colour skins.
#include "accounts/frmLogin.h"
#include "base/Module1.h"
#include "diary/frmLook.h"
#include "diary/frmWrite.h"
#include "forms/SkinnedForm.h"
#include "shell/Navigation.h"
#include "support/TempApp.h"

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <functional>

class DiaryApp : public TempApp {
protected:
    void SetUp() override;

    static void logIn(const QString& name, qint16 popedom = 0);
    void setNow(const QDateTime& t);
    frmWrite* openWrite();
    frmLook* openLook();
    frmLook* look() const { return qobject_cast<frmLook*>(app::loaded(app::FormId::Look)); }
    // Adds an entry straight to the file (id 0: the database chooses); returns its ID.
    int addEntry(const QString& title, const QString& writer = u"alice"_s,
                 const QString& time = u"2024-3-1 8:00:00"_s, const QString& content = u"内容"_s,
                 int id = 0);
    QString column(const char* name, int id);

    // A real left click (an option button: on its circle).
    static void click(QWidget* w);
    // ASCII as key presses, anything else as an input method commits it.
    static void type(QWidget* w, const QString& text);
    static void retype(QLineEdit* box, const QString& text);
    // The kind chosen by clicking its option, its box filled, then "查询".
    static void search(frmLook* look, int kind, const QString& text = QString());
    // The count after "共有记录数：", 0 after "没有找到记录数".
    static int found(frmLook* look);
    // "title/writer" of every row of the result, stepping with ">", sorted.
    static QStringList rows(frmLook* look);
    QStringList takeTexts();

    QDateTime now_;
};

// The login window, open and active, nobody logged in.
class LoginApp : public DiaryApp {
protected:
    void SetUp() override;
    void open();
    QLineEdit* edit(const char* name);
    QPushButton* button(const char* name);
    void fill(const char* box, const QString& text);
    void press(const char* name) { click(button(name)); }
    // Fills both boxes and presses 确定.
    void attempt(const QString& name, const QString& password);
    static bool loginOpen() { return app::loaded(app::FormId::Login) != nullptr; }
    static bool writeOpen() { return app::loaded(app::FormId::Write) != nullptr; }

    const QString kFail = u"对不起，无此用户或者密码不正确！请重新输入！！"_s;
    const QString kThird = u"你已经尝试登录了三次，程序将结束"_s;
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
    // Each skinned window on its own: loaded, shown, tested, unloaded.
    void eachAlone(const std::function<void(diary::SkinnedForm*)>& test);
    // Which of the two skins the window's controls wear: "16", "other", or "mixed".
    QString skinOf(diary::SkinnedForm* form) const;

    QString defaultSkin, otherSkin;
};
