#pragma once
// The diary windows over a temporary application folder, with someone logged in.
#include "app/Navigation.h"
#include "diary/frmLook.h"
#include "diary/frmWrite.h"
#include "support/TempApp.h"

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <initializer_list>
#include <ostream>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{';
    for (const QString& s : l)
        *os << " \"" << s.toStdString() << '"';
    *os << " }";
}

// A list of UTF-8 literals (the build forbids converting them implicitly).
QStringList names(std::initializer_list<const char*> list);

class DiaryApp : public TempApp {
public:
    // A real left click in the middle of the widget (an option button: on its circle).
    static void click(QWidget* w);
    // Types as a user does: ASCII as key presses, anything else as an input method commits it.
    static void type(QWidget* w, const QString& text);

protected:
    void SetUp() override;

    // Logs in without the login window.
    static void logIn(const QString& name, qint16 popedom = 0);
    // The clock stands still at this moment until moved.
    void setNow(const QDateTime& t);

    frmWrite* openWrite();
    frmLook* openLook();
    // Adds an entry straight to the file; id 0 lets the database choose. Returns the ID.
    int addEntry(const QString& title, const QString& writer, const QString& time,
                 const QString& content = QStringLiteral("内容"),
                 const QString& weather = QStringLiteral("晴"), int id = 0);

    template <class T> static T* child(QWidget* w, const char* name) {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    // Selects a search kind and fills its box through the window's own controls.
    static void searchAll(frmLook* look);
    static void searchTitle(frmLook* look, const QString& text);
    static void searchDate(frmLook* look, const QString& text);
    // objectNames of the controls Tab visits, starting at `first`.
    static QStringList tabOrder(QWidget* first);
    // Messages shown since the last call, cleared afterwards.
    QStringList takeTexts();

    QDateTime now_;
};
