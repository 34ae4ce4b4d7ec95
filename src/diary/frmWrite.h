#pragma once
// The writing window: a new entry with title, weather and text, saved for the logged-in user.
#include "data/myClass.h"
#include "forms/FormUtil.h"
#include "forms/SkinnedForm.h"
#include "vault/Drafts.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace diary {
class DraftKeeper;
}

class frmWrite : public diary::SkinnedForm {
    Q_OBJECT
public:
    explicit frmWrite(QWidget* parent = nullptr);

    QPlainTextEdit* B_Content_text = nullptr;
    diary::ClickLineEdit* B_Title_text = nullptr;
    QLineEdit* B_Writer_text = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* B_Weather_Combo = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* saveComm = nullptr;
    QPushButton* findNoteComm = nullptr;
    QPushButton* helpComm = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* hfComm = nullptr;
    QPushButton* reLoginComm = nullptr;
    QTimer* Timer1 = nullptr;

    // Used by the save only; its connection is closed and released after each save.
    myClass myAddRs;

    void saveComm_Click();
    void findNoteComm_Click();
    void helpComm_Click();
    void hfComm_Click();
    void reLoginComm_Click();
    void B_Title_text_Click();
    void Timer1_Timer();

    // At login: the user's unsaved drafts, each restored or removed as he answers.
    Q_INVOKABLE void offerDrafts();
    diary::DraftKeeper* draftKeeper() const { return draft_; }
    // The boxes filled from a draft.
    void restore(const vault::DraftTexts& texts);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    diary::DraftKeeper* draft_ = nullptr;
    void Form_Load();
    QByteArray saveToken(const sql::Statement& s);
    QByteArray token_, tokenTexts_;
    void showToday();
};
