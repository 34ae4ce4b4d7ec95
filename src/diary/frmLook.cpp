#include "diary/frmLook.h"

#include "base/DateText.h"
#include "base/Module1.h"
#include "data/statements.h"
#include "diary/DraftKeeper.h"
#include "forms/DbGuard.h"
#include "forms/FormUtil.h"
#include "shell/Desktop.h"
#include "shell/Dialogs.h"
#include "shell/Navigation.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

using app::Twips;
using diary::place;

namespace {
const QString kCount = QStringLiteral("共有记录数：");
const QString kPosition = QStringLiteral("当前记录：");

QLabel* label(const QString& text, QWidget* parent, const char* name, int l, int t, int w, int h) {
    return place(new QLabel(text, parent), name, l, t, w, h);
}

QPushButton* button(const QString& text, QWidget* parent, const char* name, int l, int t, int w,
                    int h) {
    auto* b = place(new QPushButton(text, parent), name, l, t, w, h);
    b->setAutoDefault(false);
    return b;
}
} // namespace

frmLook::frmLook(QWidget* parent) : diary::SkinnedForm(parent) {
    setObjectName(QStringLiteral("frmLook"));
    setWindowTitle(QStringLiteral("浏览日记"));
    resize(Twips::toPxX(11970), Twips::toPxY(9525));

    Frame1 = place(new QGroupBox(QStringLiteral("查询条件"), this), "Frame1", 120, 480, 6255, 2175);
    optQueryType[0] = place(new QRadioButton(QStringLiteral("时间：(2008-11-25)"), Frame1),
                            "optQueryType0", 120, 240, 2175, 375);
    txtQuerytime = place(new diary::ClickLineEdit(QStringLiteral("请输入时间"), Frame1),
                         "txtQuerytime", 2280, 240, 2895, 375);
    findDateCommd = button(QStringLiteral(">>"), Frame1, "findDateCommd", 5280, 240, 375, 375);
    optQueryType[3] = place(new QRadioButton(QStringLiteral("标题："), Frame1), "optQueryType3",
                            120, 840, 1335, 375);
    txtQuerytitle = place(new diary::ClickLineEdit(QStringLiteral("标题"), Frame1), "txtQuerytitle",
                          1680, 840, 3495, 375);
    optQueryType[2] = place(new QRadioButton(QStringLiteral("查看全部"), Frame1), "optQueryType2",
                            120, 1440, 1335, 375);
    optQueryType[2]->setChecked(true);
    // The text search, in the free stretch of the frame's last row.
    optQueryType[1] = place(new QRadioButton(QStringLiteral("内容："), Frame1), "optQueryType1",
                            1560, 1440, 975, 375);
    txtQuerycontent =
        place(new diary::ClickLineEdit(Frame1), "txtQuerycontent", 2535, 1440, 2520, 375);
    queryComm = button(QStringLiteral("查询"), Frame1, "queryComm", 5160, 1440, 900, 375);

    Label1 = label(QStringLiteral("标题："), this, "Label1", 240, 2880, 615, 255);
    txt_title = place(new diary::ClickLineEdit(QStringLiteral("Text1"), this), "txt_title", 840,
                      2760, 5535, 375);
    Label2 = label(QStringLiteral("作者："), this, "Label2", 240, 3480, 615, 255);
    txt_writer =
        place(new QLineEdit(QStringLiteral("Text2"), this), "txt_writer", 840, 3360, 5535, 375);
    Label3 = label(QStringLiteral("天气："), this, "Label3", 240, 4080, 615, 255);
    txt_weather =
        place(new QLineEdit(QStringLiteral("Text3"), this), "txt_weather", 840, 3960, 1695, 375);
    Label5 = label(QStringLiteral("添加时间："), this, "Label5", 2640, 4080, 975, 255);
    txt_time =
        place(new QLineEdit(QStringLiteral("Text5"), this), "txt_time", 3720, 3960, 2655, 375);
    Label6 = label(kCount, this, "Label6", 6480, 4080, 2895, 255);
    Label4 = label(QStringLiteral("内容："), this, "Label4", 240, 4560, 615, 255);
    txt_content = place(new QPlainTextEdit(QStringLiteral("Text4"), this), "txt_content", 100, 4800,
                        11720, 4575);
    txt_content->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txt_content->setTabChangesFocus(true);
    growWithWindow(txt_content);
    for (QLineEdit* box : {static_cast<QLineEdit*>(txt_title), txt_writer, txt_weather, txt_time})
        diary::setLocked(box, true);
    // Written back by "保存": they must hold the stored texts whole.
    for (QLineEdit* box : {static_cast<QLineEdit*>(txt_title), txt_writer, txt_weather})
        diary::takeAnyLength(box);
    diary::setLocked(txt_content, true);

    writeNoteComm = button(QStringLiteral("写日记"), this, "writeNoteComm", 7080, 2760, 855, 375);
    modifyComm = button(QStringLiteral("修改"), this, "modifyComm", 8040, 2760, 900, 375);
    saveComm = button(QStringLiteral("保存"), this, "saveComm", 9000, 2760, 900, 375);
    DelComm = button(QStringLiteral("删除"), this, "DelComm", 9960, 2760, 900, 375);
    helpComm = button(QStringLiteral("帮助"), this, "helpComm", 10920, 2760, 735, 375);
    MovefirstComm = button(QStringLiteral("<<"), this, "MovefirstComm", 8760, 3960, 600, 375);
    commPrevious = button(QStringLiteral("<"), this, "commPrevious", 9360, 3960, 600, 375);
    commNext = button(QStringLiteral(">"), this, "commNext", 9960, 3960, 615, 375);
    MovelastComm = button(QStringLiteral(">>"), this, "MovelastComm", 10560, 3960, 600, 375);
    for (QPushButton* b : {modifyComm, saveComm, DelComm})
        b->setEnabled(false);

    Label1->setBuddy(txt_title);
    Label2->setBuddy(txt_writer);
    Label3->setBuddy(txt_weather);
    Label4->setBuddy(txt_content);
    Label5->setBuddy(txt_time);
    txt_title->setAccessibleName(QStringLiteral("标题"));
    txt_writer->setAccessibleName(QStringLiteral("作者"));
    txt_weather->setAccessibleName(QStringLiteral("天气"));
    txt_time->setAccessibleName(QStringLiteral("添加时间"));
    txt_content->setAccessibleName(QStringLiteral("内容"));
    txtQuerytime->setAccessibleName(QStringLiteral("查询时间"));
    txtQuerytitle->setAccessibleName(QStringLiteral("查询标题"));
    txtQuerycontent->setAccessibleName(QStringLiteral("查询内容"));
    findDateCommd->setAccessibleName(QStringLiteral("从日历选择日期"));
    MovefirstComm->setAccessibleName(QStringLiteral("第一条"));
    commPrevious->setAccessibleName(QStringLiteral("上一条"));
    commNext->setAccessibleName(QStringLiteral("下一条"));
    MovelastComm->setAccessibleName(QStringLiteral("最后一条"));

    QWidget* order[] = {txt_title,       txt_writer,      txt_weather,     txt_content,
                        txt_time,        queryComm,       txtQuerytime,    optQueryType[0],
                        optQueryType[2], optQueryType[3], optQueryType[1], commNext,
                        commPrevious,    findDateCommd,   modifyComm,      saveComm,
                        MovefirstComm,   MovelastComm,    DelComm,         txtQuerytitle,
                        txtQuerycontent, writeNoteComm,   helpComm};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(queryComm, &QPushButton::clicked, this, &frmLook::queryComm_Click);
    connect(findDateCommd, &QPushButton::clicked, this, &frmLook::findDateCommd_Click);
    connect(txtQuerytime, &diary::ClickLineEdit::clicked, this, &frmLook::txtQuerytime_Click);
    connect(txtQuerytitle, &diary::ClickLineEdit::clicked, this, &frmLook::txtQuerytitle_Click);
    connect(txtQuerycontent, &diary::ClickLineEdit::clicked, this, &frmLook::txtQuerycontent_Click);
    // Keyboard users choose the kind by typing into its box, and run it with Enter.
    connect(txtQuerytime, &QLineEdit::textEdited, this, &frmLook::txtQuerytime_Click);
    connect(txtQuerytitle, &QLineEdit::textEdited, this, &frmLook::txtQuerytitle_Click);
    connect(txtQuerycontent, &QLineEdit::textEdited, this, &frmLook::txtQuerycontent_Click);
    for (diary::ClickLineEdit* box : {txtQuerytime, txtQuerytitle, txtQuerycontent})
        connect(box, &QLineEdit::returnPressed, queryComm, &QPushButton::click);
    connect(txt_title, &diary::ClickLineEdit::clicked, this, &frmLook::txt_title_Click);
    connect(MovefirstComm, &QPushButton::clicked, this, &frmLook::MovefirstComm_Click);
    connect(commPrevious, &QPushButton::clicked, this, &frmLook::commPrevious_Click);
    connect(commNext, &QPushButton::clicked, this, &frmLook::commNext_Click);
    connect(MovelastComm, &QPushButton::clicked, this, &frmLook::MovelastComm_Click);
    connect(modifyComm, &QPushButton::clicked, this, &frmLook::modifyComm_Click);
    connect(saveComm, &QPushButton::clicked, this, &frmLook::saveComm_Click);
    connect(DelComm, &QPushButton::clicked, this, &frmLook::DelComm_Click);
    connect(writeNoteComm, &QPushButton::clicked, this, &frmLook::writeNoteComm_Click);
    connect(helpComm, &QPushButton::clicked, this, &frmLook::helpComm_Click);
    setUpDraft();

    Form_Load();
}

// An edit is kept as a draft while the boxes are open to typing.
void frmLook::setUpDraft() {
    draft_ = new diary::DraftKeeper(
        vault::DraftKind::Edit,
        [this] {
            return vault::DraftTexts{txt_title->text(), txt_weather->text(),
                                     diary::plainText(txt_content)};
        },
        this);
    const auto typed = [this] {
        if (txt_content->isReadOnly())
            return;
        draft_->setEntry(B_id);
        draft_->changed();
    };
    connect(txt_title, &QLineEdit::textEdited, this, typed);
    connect(txt_content, &QPlainTextEdit::textChanged, this, typed);
}

bool frmLook::resumeEdit(long long id, const vault::DraftTexts& texts) {
    QString time;
    try {
        if (myrs.ocn().State() == 0)
            myrs.OpenData();
        const auto row = myrs.ocn().entryRow(id);
        if (!row)
            return false;
        time = row->at(5).toString();
    } catch (...) {
        return false;
    }
    txtQuerytime->setText(time.section(QLatin1Char(' '), 0, 0));
    optQueryType[0]->setChecked(true);
    queryComm_Click();
    if (!resultOpen())
        return false;
    ado::Recordset& rs = myrs.rs();
    while (B_id != id && !rs.eof()) {
        rs.MoveNext();
        if (!rs.eof())
            showPosition();
    }
    if (B_id != id)
        return false;
    modifyComm_Click();
    txt_title->setText(texts.title);
    txt_weather->setText(texts.weather);
    txt_content->setPlainText(texts.content);
    draft_->setEntry(id);
    draft_->restored();
    return true;
}

// ---- load and unload ----

void frmLook::Form_Load() {
    txtQuerytime->setText(app::dateText(app::now().date()));
    diary::centreOnScreen(this);
    applyCurrentSkin();
    txt_title->setFocus();
}

void frmLook::closeEvent(QCloseEvent* e) {
    draft_->keepNow();
    Form_Unload();
    e->accept();
}

void frmLook::Form_Unload() {
    if (myrs.hasOcn() && myrs.ocn().State() == 1) {
        myrs.ocn().Close();
        myrs.releaseOcn();
    }
    // Closing the connection closed the result set; it goes with it.
    if (myrs.hasRs()) {
        myrs.rs().Close();
        myrs.releaseRs();
    }
}

// ---- the entry shown ----

void frmLook::ShowCurrentEntry() {
    ado::Recordset& rs = myrs.rs();
    const QSignalBlocker shown(txt_content); // not typed: no draft
    txt_title->setText(rs.Fields(QStringLiteral("B_title")).toString());
    shownWriter = rs.Fields(QStringLiteral("B_writer")).toString();
    txt_writer->setText(shownWriter);
    txt_weather->setText(rs.Fields(QStringLiteral("B_weather")).toString());
    txt_time->setText(rs.Fields(QStringLiteral("B_time")).toString());
    txt_content->setPlainText(rs.Fields(QStringLiteral("B_content")).toString());
    B_id = rs.Fields(QStringLiteral("id")).toInt();
}

void frmLook::txt_title_Click() {
    diary::selectLine(txt_title);
}

void frmLook::writeNoteComm_Click() {
    app::go(this, app::FormId::Write);
}

void frmLook::helpComm_Click() {
    app::openManual(this);
}

// ---- search ----

frmLook::QueryResult frmLook::RunEntryQuery() {
    auto& dlg = app::Dialogs::instance();
    const bool everyone = Module1::UserPopedom == 1;
    const QString& user = Module1::UserName;
    sql::Statement statement;
    if (optQueryType[0]->isChecked()) {
        const QString d = txtQuerytime->text();
        if (d.isEmpty()) {
            dlg.message(this, QStringLiteral("请输入查询日期"), app::kAppTitle, app::Icon::None);
            return QueryResult::Stopped;
        }
        // A whole date finds that day only; "2024-3-1" inside B_time would also hit 10-19 March.
        if (const auto day = app::completeDate(d))
            statement = everyone ? sql::allEntriesOnDay(*day) : sql::entriesOnDay(user, *day);
        else
            statement = everyone ? sql::allEntriesByDate(d) : sql::entriesByDate(user, d);
    } else if (optQueryType[3]->isChecked()) {
        const QString t = txtQuerytitle->text();
        if (t.isEmpty()) {
            dlg.message(this, QStringLiteral("请输入标题!!"), app::kAppTitle, app::Icon::None);
            return QueryResult::Stopped;
        }
        statement = everyone ? sql::allEntriesByTitle(t) : sql::entriesByTitle(user, t);
    } else if (optQueryType[1]->isChecked()) {
        const QString t = txtQuerycontent->text();
        if (t.isEmpty()) {
            dlg.message(this, QStringLiteral("请输入内容!!"), app::kAppTitle, app::Icon::None);
            return QueryResult::Stopped;
        }
        statement = everyone ? sql::allEntriesByContent(t) : sql::entriesByContent(user, t);
    } else {
        statement = everyone ? sql::allEntries() : sql::entriesOf(user);
    }

    bool found = false;
    const bool ran = app::guarded(this, [&] {
        if (myrs.ocn().State() == 0)
            myrs.OpenData();
        // The new result is complete before the old one goes: a search that fails on the
        // database leaves the window, its result and an edit in progress as they were.
        auto next = std::make_unique<ado::Recordset>();
        next->Open(statement, myrs.ocn());
        myrs.replaceRs(std::move(next));
        found = !myrs.rs().eof();
        if (found) {
            Label6->setText(kCount + QString::number(myrs.rs().RecordCount()));
            ShowCurrentEntry();
        }
    });
    if (!ran)
        return QueryResult::Failed;
    if (found)
        return QueryResult::Rows;
    Label6->setText(QStringLiteral("没有找到记录数"));
    dlg.message(this, QStringLiteral("没有查找满足条件的数据！"), QStringLiteral("提示"),
                app::Icon::Exclamation);
    return QueryResult::NoRow;
}

void frmLook::queryComm_Click() {
    if (RunEntryQuery() != QueryResult::Rows)
        return;
    DelComm->setEnabled(true);
    commNext->setEnabled(true);
    saveComm->setEnabled(false);
    modifyComm->setEnabled(true);
}

void frmLook::txtQuerytime_Click() {
    optQueryType[0]->setChecked(true);
}

void frmLook::txtQuerytitle_Click() {
    optQueryType[3]->setChecked(true);
}

void frmLook::txtQuerycontent_Click() {
    optQueryType[1]->setChecked(true);
}

void frmLook::findDateCommd_Click() {
    if (QWidget* open = app::loaded(app::FormId::Month)) {
        // Already open: bring it up on the date now in the box.
        QMetaObject::invokeMethod(open, "showQueryDate");
        app::show(open);
    } else {
        app::show(app::load(app::FormId::Month));
    }
    optQueryType[0]->setChecked(true);
}

// ---- navigation ----

bool frmLook::resultOpen() {
    return myrs.hasOcn() && myrs.ocn().State() == 1 && myrs.hasRs() && myrs.rs().State() == 1;
}

// A result closed since (its file replaced, say) names no row to change: the typed text
// stays, and the user is asked to search again.
bool frmLook::resultStillOpen() {
    if (resultOpen())
        return true;
    app::Dialogs::instance().message(this, QStringLiteral("请重新查询"), app::kAppTitle,
                                     app::Icon::Exclamation);
    return false;
}

void frmLook::showPosition() {
    Label6->setText(kPosition + QString::number(myrs.rs().AbsolutePosition()));
    ShowCurrentEntry();
}

void frmLook::commNext_Click() {
    if (!resultOpen())
        return;
    ado::Recordset& rs = myrs.rs();
    if (rs.eof()) {
        commNext->setEnabled(false);
        return;
    }
    app::guarded(this, [&] {
        rs.MoveNext();
        commPrevious->setEnabled(true);
        if (!rs.eof())
            showPosition();
    });
}

void frmLook::commPrevious_Click() {
    if (!resultOpen())
        return;
    ado::Recordset& rs = myrs.rs();
    if (rs.bof()) {
        commPrevious->setEnabled(false);
        return;
    }
    app::guarded(this, [&] {
        rs.MovePrevious();
        commNext->setEnabled(true);
        if (!rs.bof())
            showPosition();
    });
}

void frmLook::MovefirstComm_Click() {
    if (!resultOpen())
        return;
    ado::Recordset& rs = myrs.rs();
    if (rs.bof())
        return;
    app::guarded(this, [&] {
        rs.MoveFirst();
        commPrevious->setEnabled(false);
        commNext->setEnabled(true);
        if (!rs.bof())
            showPosition();
    });
}

void frmLook::MovelastComm_Click() {
    if (!resultOpen())
        return;
    ado::Recordset& rs = myrs.rs();
    if (rs.eof())
        return;
    app::guarded(this, [&] {
        rs.MoveLast();
        if (!rs.eof()) {
            showPosition();
            commPrevious->setEnabled(true);
        }
    });
}

// ---- editing and deleting ----

void frmLook::modifyComm_Click() {
    saveComm->setEnabled(true);
    diary::setLocked(txt_title, false);
    diary::setLocked(txt_content, false);
}

void frmLook::saveComm_Click() {
    auto& dlg = app::Dialogs::instance();
    if (!dlg.ask(this, QStringLiteral("真的要修改吗?"), app::kAppTitle))
        return;
    if (!resultStillOpen())
        return;
    long long changed = 0;
    if (!app::guarded(this, [&] {
            changed = myrs.rs().Execute(sql::updateEntry(txt_title->text(), txt_weather->text(),
                                                         diary::plainText(txt_content), shownWriter,
                                                         B_id));
        }))
        return;
    const QString number = QString::number(B_id);
    if (changed == 0) {
        // Deleted here or by another running copy: say so, and keep what was typed.
        dlg.message(this,
                    QStringLiteral("记录号为") + number +
                        QStringLiteral("的日记已不存在，修改未保存"),
                    app::kAppTitle, app::Icon::Exclamation);
        return;
    }
    dlg.message(this, QStringLiteral("成功修改了记录号为") + number + QStringLiteral("的日记"),
                app::kAppTitle, app::Icon::None);
    draft_->discard();
    saveComm->setEnabled(false);
    diary::setLocked(txt_title, true);
    diary::setLocked(txt_writer, true);
    diary::setLocked(txt_content, true);
}

void frmLook::DelComm_Click() {
    if (!app::Dialogs::instance().ask(this, QStringLiteral("删除后无法恢复！！真的删除吗?"),
                                      app::kAppTitle))
        return;
    // B_id names a row of the result's file only.
    if (!resultStillOpen())
        return;
    const bool deleted = app::guarded(this, [&] { myrs.rs().Execute(sql::deleteEntry(B_id)); });
    if (!deleted)
        return;
    if (draft_->entry() == B_id)
        draft_->discard();
    switch (RunEntryQuery()) {
    case QueryResult::Rows:
        DelComm->setEnabled(true);
        break;
    case QueryResult::NoRow:
        modifyComm->setEnabled(false);
        DelComm->setEnabled(false);
        break;
    case QueryResult::Stopped:
    case QueryResult::Failed:
        break;
    }
}
