#pragma once
// The login window in a temporary application folder, found and driven like a user would.
#include "accounts/frmLogin.h"
#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "base/Twips.h"
#include "data/myClass.h"
#include "shell/Navigation.h"
#include "support/TempApp.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class LoginFixture : public TempApp {
protected:
    void SetUp() override {
        TempApp::SetUp();
        app::registerForms();
        frmLogin::resetRun();
        open();
    }
    void TearDown() override {
        frmLogin::resetRun();
        TempApp::TearDown();
    }
    void open() {
        login = qobject_cast<frmLogin*>(app::load(app::FormId::Login));
        ASSERT_NE(login, nullptr);
        app::show(login);
        QApplication::setActiveWindow(login);
        ASSERT_TRUE(QTest::qWaitForWindowActive(login));
    }
    QLineEdit* edit(const char* name) {
        return login->findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    QPushButton* button(const char* name) {
        return login->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    void type(const char* box, const QString& text) {
        QLineEdit* e = edit(box);
        e->clear();
        e->setFocus();
        QTest::keyClicks(e, text);
    }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    // Types both boxes and presses 确定.
    void attempt(const QString& name, const QString& password) {
        type("txtUserName", name);
        type("txtPassword", password);
        click("cmdOK");
    }
    bool loginOpen() { return app::loaded(app::FormId::Login) != nullptr; }
    bool writeOpen() { return app::loaded(app::FormId::Write) != nullptr; }

    static QString s(const char* utf8) { return QString::fromUtf8(utf8); }
    const QString kFail = s("对不起，无此用户或者密码不正确！请重新输入！！");
    const QString kThird = s("你已经尝试登录了三次，程序将结束");

    frmLogin* login = nullptr;
};
