#pragma once
// The login window: log in, register a name, change a password.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QGroupBox;
class myClass;

class frmLogin : public QDialog {
    Q_OBJECT
public:
    explicit frmLogin(QWidget* parent = nullptr);

    QLabel* lblLabels[2] = {};
    QLineEdit* txtUserName = nullptr;
    QLineEdit* txtPassword = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* RegComm = nullptr;
    QPushButton* modifyComm = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr;

    // Failed attempts of this run; never reset while the process lives.
    static qint16 FailedLogins;
    // The window's data object outlives the window: it lasts for the whole run.
    static myClass& data();
    // A new run: no failures counted, data object released (tests).
    static void resetRun();

    void cmdOK_Click();
    void cmdCancel_Click();
    void Command1_Click();
    void RegComm_Click();
    void modifyComm_Click();

protected:
    void reject() override; // Esc
    // The close box unloads like any window; QDialog would turn it into a reject.
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void selectUserName();
    // One failed attempt: the failure box, the name selected, the count, the third ends it.
    void failedAttempt();
    static void openUserRow(myClass& d, const QString& name);
};
