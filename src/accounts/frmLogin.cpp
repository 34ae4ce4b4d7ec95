#include "accounts/frmLogin.h"

#include "accounts/Password.h"
#include "accounts/Session.h"
#include "base/Module1.h"
#include "base/Twips.h"
#include "data/myClass.h"
#include "data/statements.h"
#include "forms/DbGuard.h"
#include "forms/FormUtil.h"
#include "shell/Desktop.h"
#include "shell/Dialogs.h"
#include "shell/Navigation.h"
#include "vault/KeyRing.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressDialog>
#include <QPushButton>
#include <limits>
#include <memory>

using app::Twips;
using diary::place;

qint16 frmLogin::FailedLogins = 0;

namespace {
std::unique_ptr<myClass>& dataSlot() {
    static std::unique_ptr<myClass> d;
    return d;
}

const QString kError = QStringLiteral("错误");

qint16 toPopedom(const QVariant& v) {
    bool ok = false;
    const qlonglong n = accounts::normalise(v.toString()).toLongLong(&ok);
    // A missing or out-of-range value grants nothing.
    if (!ok || n < std::numeric_limits<qint16>::min() || n > std::numeric_limits<qint16>::max())
        return 0;
    return qint16(n);
}

void forgetKeys() {
    if (vault::KeyRing* keys = myClass::keys())
        keys->clear();
}

// The key work of a login or a password change, shown once it has taken half a second. No
// cancel: a job stopped half way would go on at the next login anyway, and the window would
// seem to have stopped it. Events are let through only to paint: a click now would start a
// second login inside this one.
class KeyJobProgress {
public:
    explicit KeyJobProgress(QWidget* parent) : parent_(parent) {}
    void operator()(long long done, long long total) {
        if (!dialog_) {
            dialog_ = std::make_unique<QProgressDialog>(parent_);
            dialog_->setWindowTitle(app::kAppTitle);
            dialog_->setCancelButton(nullptr);
            dialog_->setWindowModality(Qt::WindowModal);
            dialog_->setMinimumDuration(500);
            dialog_->setAutoClose(false);
            dialog_->setAutoReset(false);
        }
        // QProgressDialog counts in int.
        const int scale = total > 1000000000 ? int(total / 1000000000 + 1) : 1;
        dialog_->setLabelText(
            QStringLiteral("正在用新密钥重新加密你的日记…\n已完成 %1/%2 篇").arg(done).arg(total));
        dialog_->setMaximum(int(total / scale));
        dialog_->setValue(int(done / scale));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    vault::Progress callback() {
        return [this](long long done, long long total) { (*this)(done, total); };
    }

private:
    QWidget* parent_;
    std::unique_ptr<QProgressDialog> dialog_;
};

bool isUniqueViolation(const ado::Error& e) {
    return e.kind() == ado::Failure::Duplicate || e.message().contains(QStringLiteral("UNIQUE"));
}
} // namespace

myClass& frmLogin::data() {
    if (!dataSlot())
        dataSlot() = std::make_unique<myClass>();
    return *dataSlot();
}

void frmLogin::resetRun() {
    FailedLogins = 0;
    dataSlot().reset();
    forgetKeys();
}

frmLogin::frmLogin(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("登录DayVault"));
    setFixedSize(Twips::toPxX(5385), Twips::toPxY(1980));

    lblLabels[0] =
        place(new QLabel(QStringLiteral("用户名(&U):"), this), "lblLabels0", 105, 150, 1080, 270);
    txtUserName = place(new QLineEdit(this), "txtUserName", 1290, 135, 2325, 345);
    lblLabels[1] =
        place(new QLabel(QStringLiteral("密码(&P):"), this), "lblLabels1", 105, 540, 1080, 270);
    txtPassword = place(new QLineEdit(this), "txtPassword", 1290, 525, 2325, 345);
    txtPassword->setEchoMode(QLineEdit::Password);
    lblLabels[0]->setBuddy(txtUserName);
    lblLabels[1]->setBuddy(txtPassword);
    txtUserName->setAccessibleName(QStringLiteral("用户名"));
    txtPassword->setAccessibleName(QStringLiteral("密码"));

    cmdOK = place(new QPushButton(QStringLiteral("确定"), this), "cmdOK", 120, 1440, 1140, 390);
    cmdCancel =
        place(new QPushButton(QStringLiteral("取消"), this), "cmdCancel", 1440, 1440, 1140, 390);
    RegComm =
        place(new QPushButton(QStringLiteral("注册"), this), "RegComm", 2760, 1440, 1140, 390);
    modifyComm = place(new QPushButton(QStringLiteral("修改密码"), this), "modifyComm", 4080, 1440,
                       1140, 390);
    Frame1 = place(new QGroupBox(QStringLiteral("说明"), this), "Frame1", 3720, 0, 1575, 1335);
    Label1 = place(
        new QLabel(QStringLiteral("让你的日记得到永久保护,不再担心别人用电脑时会看到你的日记了."),
                   Frame1),
        "Label1", 120, 240, 1335, 975);
    Label1->setWordWrap(true);
    QFont small = Label1->font(); // the designed box is small for CJK text at 9 pt
    small.setPointSizeF(small.pointSizeF() * 0.85);
    Label1->setFont(small);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Command1 = place(new QPushButton(QStringLiteral("打开 DayVault 使用手册，了解更多"), this),
                     "Command1", 120, 960, 3495, 375);
    Command1->setAutoDefault(false);

    cmdOK->setDefault(true);
    for (QPushButton* b : {cmdCancel, RegComm, modifyComm})
        b->setAutoDefault(false);

    setTabOrder(txtUserName, txtPassword);
    setTabOrder(txtPassword, cmdOK);
    setTabOrder(cmdOK, cmdCancel);
    setTabOrder(cmdCancel, RegComm);
    setTabOrder(RegComm, modifyComm);
    setTabOrder(modifyComm, Command1);

    connect(cmdOK, &QPushButton::clicked, this, &frmLogin::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmLogin::cmdCancel_Click);
    connect(Command1, &QPushButton::clicked, this, &frmLogin::Command1_Click);
    connect(RegComm, &QPushButton::clicked, this, &frmLogin::RegComm_Click);
    connect(modifyComm, &QPushButton::clicked, this, &frmLogin::modifyComm_Click);

    Form_Load();
}

void frmLogin::Form_Load() {
    // Back at the login window ("重新登录"): the last user's keys go, and on a server his
    // login with them.
    forgetKeys();
    if (data().ocn().State() == 1)
        data().ocn().logOut();
    txtUserName->setFocus();
    selectUserName();
}

void frmLogin::selectUserName() {
    diary::selectLine(txtUserName, Qt::OtherFocusReason);
}

void frmLogin::reject() {
    cmdCancel_Click();
}

void frmLogin::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
}

void frmLogin::cmdCancel_Click() {
    app::unload(this);
}

void frmLogin::Command1_Click() {
    app::openManual(this);
}

void frmLogin::failedAttempt() {
    auto& dlg = app::Dialogs::instance();
    dlg.message(this, QStringLiteral("对不起，无此用户或者密码不正确！请重新输入！！"), kError,
                app::Icon::Critical);
    txtUserName->setFocus();
    txtUserName->setSelection(0, int(txtUserName->text().size()));
    FailedLogins = qint16(FailedLogins + 1);
    if (FailedLogins >= 3) {
        dlg.message(this, QStringLiteral("你已经尝试登录了三次，程序将结束"), kError,
                    app::Icon::Critical);
        app::unload(this);
    }
}

// The user's row on the window's connection, opened when closed; each button asks anew.
void frmLogin::openUserRow(myClass& d, const QString& name) {
    if (d.ocn().State() == 0)
        d.OpenData();
    if (d.rs().State() == 1)
        d.rs().Close();
    d.rs().Open(sql::userQuery(name), d.ocn());
}

void frmLogin::cmdOK_Click() {
    const QString name = accounts::normalise(txtUserName->text());
    const QString password = accounts::normalise(txtPassword->text());
    bool ok = false;
    QString storedName, refused;
    QVariant popedom;
    const bool ran = app::guarded(this, [&] {
        myClass& d = data();
        openUserRow(d, name);
        const bool found = !(d.rs().eof() && d.rs().bof());
        const QString stored =
            found ? d.rs().Fields(QStringLiteral("B_password")).toString() : QString();
        const QString rowName = found ? d.rs().Fields(QStringLiteral("B_user")).toString() : name;
        const accounts::Unlocked check =
            accounts::checkLogin(d.ocn(), rowName, password, stored, found);
        ok = check.ok;
        if (!ok)
            return;
        storedName = d.rs().Fields(QStringLiteral("B_user")).toString();
        popedom = d.rs().Fields(QStringLiteral("popedom"));
        // The stored name: normalised again, " bob" would be "bob".
        vault::KeyRing spare;
        vault::KeyRing* keys = myClass::keys();
        KeyJobProgress progress(this);
        refused =
            accounts::startSession(d.ocn(), keys ? *keys : spare, storedName, password, stored,
                                   check, toPopedom(popedom) == 1, progress.callback());
    });
    if (!ran)
        return;
    if (!refused.isEmpty()) {
        app::Dialogs::instance().message(this, refused, kError, app::Icon::Critical);
        return;
    }
    if (!ok) {
        failedAttempt();
        return;
    }
    // The stored name as it is. "' ann" is kept as " ann", a user of its own; normalising it
    // once more would log its owner in as "ann", with the diary of "ann".
    Module1::UserName = storedName;
    Module1::UserPopedom = toPopedom(popedom);
    // The writing window, then what the user left unsaved last time.
    if (QWidget* write = app::go(this, app::FormId::Write))
        QMetaObject::invokeMethod(write, "offerDrafts");
}

void frmLogin::RegComm_Click() {
    auto& dlg = app::Dialogs::instance();
    const QString typedName = txtUserName->text();
    const QString name = accounts::normalise(typedName);
    if (typedName.isEmpty() || name.isEmpty()) {
        dlg.message(this, QStringLiteral("请填写用户名"), app::kAppTitle, app::Icon::None);
        return;
    }
    if (const QString why = accounts::nameRefusal(name); !why.isEmpty()) {
        dlg.message(this, why, app::kAppTitle, app::Icon::None);
        return;
    }
    const QString typedPassword = txtPassword->text();
    bool taken = false;
    bool added = false;
    app::guarded(this, [&] {
        myClass& d = data();
        openUserRow(d, name);
        taken = !d.rs().eof();
        if (taken)
            return;
        try {
            accounts::addUser(d.ocn(), name, accounts::normalise(typedPassword));
            added = true;
        } catch (const ado::Error& e) {
            // Another running copy registered the same name a moment ago.
            if (!isUniqueViolation(e))
                throw;
            taken = true;
        }
    });
    if (taken) {
        dlg.message(this, QStringLiteral("此用户已经存在，请用另外一个用户名注册"), app::kAppTitle,
                    app::Icon::None);
        selectUserName();
        myClass& d = data();
        if (d.hasRs())
            d.rs().Close();
        d.releaseRs();
        if (d.hasOcn())
            d.ocn().Close();
        d.releaseOcn();
        return;
    }
    if (added)
        dlg.message(this,
                    QStringLiteral("注册成功，请记住你的用户和密码\n\n用户：") + typedName +
                        QStringLiteral("\n密码：") + typedPassword,
                    app::kAppTitle, app::Icon::None);
}

void frmLogin::modifyComm_Click() {
    auto& dlg = app::Dialogs::instance();
    if (txtUserName->text().isEmpty()) {
        dlg.message(this, QStringLiteral("请输入用户"), app::kAppTitle, app::Icon::None);
        return;
    }
    const QString name = accounts::normalise(txtUserName->text());
    enum { Failed, NoUser, WrongPassword, Known } outcome = Failed;
    accounts::Unlocked check;
    QString stored;
    app::guarded(this, [&] {
        myClass& d = data();
        openUserRow(d, name);
        if (d.rs().eof() && d.rs().bof()) {
            outcome = NoUser;
            return;
        }
        // Only someone who knows the current password may set a new one.
        stored = d.rs().Fields(QStringLiteral("B_password")).toString();
        check = accounts::checkLogin(d.ocn(), d.rs().Fields(QStringLiteral("B_user")).toString(),
                                     accounts::normalise(txtPassword->text()), stored, true);
        outcome = check.ok ? Known : WrongPassword;
    });
    if (outcome == Failed)
        return;
    if (outcome == NoUser) {
        dlg.message(this, QStringLiteral("此用户不存在"), app::kAppTitle, app::Icon::None);
        selectUserName();
        data().rs().Close();
        data().releaseRs();
        return;
    }
    if (outcome == WrongPassword) {
        failedAttempt();
        return;
    }
    const QString answer = dlg.input(
        this, QStringLiteral("请输入新密码,如果按取消，则密码将改为空"), app::kAppTitle, QString());
    const bool changed = app::guarded(this, [&] {
        myClass& d = data();
        if (d.ocn().State() == 0)
            d.OpenData();
        // A new data key for the new password, his entries sealed again under it: an old
        // record written back opens nothing written after.
        const auto pending =
            check.wrap.empty() ? std::nullopt : vault::pendingKey(d.ocn(), name, check.wrap);
        KeyJobProgress progress(this);
        accounts::setPassword(d.ocn(), name, accounts::normalise(answer),
                              accounts::dataKeyOf(d.ocn(), name, check), stored,
                              pending ? &*pending : nullptr, progress.callback());
        d.ocn().Close();
        d.releaseOcn();
    });
    if (changed)
        dlg.message(this, QStringLiteral("密码已经修改成功，请记住新密码：\n\r") + answer,
                    app::kAppTitle, app::Icon::None);
}
