#pragma once
// The diary windows over a temporary application folder, with "alice" logged in and the
// clock standing at 2024-3-7 10:30.
#include "diary/frmLook.h"
#include "diary/frmWrite.h"
#include "shell/Navigation.h"
#include "support/TempApp.h"

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

class DiaryApp : public TempApp {
protected:
    void SetUp() override;

    static void logIn(const QString& name, qint16 popedom = 0);
    void setNow(const QDateTime& t);
    frmWrite* openWrite();
    frmLook* openLook();
    // Adds an entry straight to the file (id 0: the database chooses); returns its ID.
    int addEntry(const QString& title, const QString& writer = QStringLiteral("alice"),
                 const QString& time = QStringLiteral("2024-3-1 8:00:00"),
                 const QString& content = QStringLiteral("内容"), int id = 0);
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
