#pragma once
// The browsing window: searches the entries, shows one at a time, steps through the result,
// edits and deletes the entry shown.
#include "data/myClass.h"
#include "forms/FormUtil.h"
#include "forms/SkinnedForm.h"
#include "vault/Drafts.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace diary {
class DraftKeeper;
}

class frmLook : public diary::SkinnedForm {
    Q_OBJECT
public:
    explicit frmLook(QWidget* parent = nullptr);

    QGroupBox* Frame1 = nullptr;
    QRadioButton* optQueryType[4] = {}; // indexes 0, 2 and 3, and 1 for the text search
    diary::ClickLineEdit* txtQuerytime = nullptr;
    QPushButton* findDateCommd = nullptr;
    diary::ClickLineEdit* txtQuerytitle = nullptr;
    diary::ClickLineEdit* txtQuerycontent = nullptr;
    QPushButton* queryComm = nullptr;
    QLabel* Label1 = nullptr;
    diary::ClickLineEdit* txt_title = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txt_writer = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txt_weather = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* txt_time = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label4 = nullptr;
    QPlainTextEdit* txt_content = nullptr;
    QPushButton* writeNoteComm = nullptr;
    QPushButton* modifyComm = nullptr;
    QPushButton* saveComm = nullptr;
    QPushButton* DelComm = nullptr;
    QPushButton* helpComm = nullptr;
    QPushButton* MovefirstComm = nullptr;
    QPushButton* commPrevious = nullptr;
    QPushButton* commNext = nullptr;
    QPushButton* MovelastComm = nullptr;

    myClass myrs;
    qint32 B_id = 0; // ID of the entry in the boxes; 0 until one is shown
    // The writer of the entry shown, as stored: the read-only box can be written behind the
    // user's back (assistive tools), and a save must not hand the entry to someone else.
    QString shownWriter;

    enum class QueryResult { Stopped, Rows, NoRow, Failed };
    // The search of the frame's selected kind and texts; shows the first entry found.
    QueryResult RunEntryQuery();
    // Copies the current row into the boxes and B_id; the row must exist.
    void ShowCurrentEntry();

    void queryComm_Click();
    void findDateCommd_Click();
    void txtQuerytime_Click();
    void txtQuerytitle_Click();
    void txtQuerycontent_Click();
    void txt_title_Click();
    void MovefirstComm_Click();
    void commPrevious_Click();
    void commNext_Click();
    void MovelastComm_Click();
    void modifyComm_Click();
    void saveComm_Click();
    void DelComm_Click();
    void writeNoteComm_Click();
    void helpComm_Click();

    // A draft of an edit restored: the entry found by its day and shown in edit mode with the
    // draft's texts. False when the entry is no longer there to be found.
    bool resumeEdit(long long id, const vault::DraftTexts& texts);
    diary::DraftKeeper* draftKeeper() const { return draft_; }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    diary::DraftKeeper* draft_ = nullptr;
    void setUpDraft();
    void Form_Load();
    void Form_Unload();
    // The guard shared by the four steps: a result set from a search is open.
    bool resultOpen();
    bool resultStillOpen();
    void showPosition();
};
