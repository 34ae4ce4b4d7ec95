#include "diary/frmWrite.h"

#include "base/Module1.h"
#include "data/statements.h"
#include "diary/DraftKeeper.h"
#include "diary/frmLook.h"
#include "forms/DbGuard.h"
#include "forms/FormUtil.h"
#include "shell/Desktop.h"
#include "shell/Dialogs.h"
#include "shell/Navigation.h"
#include "skin/SkinCache.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>

using app::Twips;
using diary::place;

frmWrite::frmWrite(QWidget* parent) : diary::SkinnedForm(parent) {
    setObjectName(QStringLiteral("frmWrite"));
    setWindowTitle(QStringLiteral("编写日记窗口"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(236, 233, 216));
    setPalette(pal);
    resize(Twips::toPxX(10755), Twips::toPxY(8670));

    B_Content_text = place(new QPlainTextEdit(this), "B_Content_text", 90, 2190, 10575, 6375);
    B_Content_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    B_Content_text->setTabChangesFocus(true);
    growWithWindow(B_Content_text);
    B_Title_text = place(new diary::ClickLineEdit(QStringLiteral("标题"), this), "B_Title_text",
                         1080, 720, 3375, 375);
    B_Writer_text = place(new QLineEdit(this), "B_Writer_text", 5280, 720, 1455, 375);
    diary::setLocked(B_Writer_text, true);
    Label1 = place(new QLabel(QStringLiteral("标题："), this), "Label1", 120, 840, 1215, 495);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2 = place(new QLabel(QStringLiteral("作者："), this), "Label2", 4680, 840, 615, 375);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label3 = place(new QLabel(QStringLiteral("天气："), this), "Label3", 7200, 840, 735, 375);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    B_Weather_Combo = place(new QComboBox(this), "B_Weather_Combo", 8160, 720, 1215, 300);
    B_Weather_Combo->setEditable(true);
    // What is typed is what is stored: no completion, no growing list.
    B_Weather_Combo->setCompleter(nullptr);
    B_Weather_Combo->setInsertPolicy(QComboBox::NoInsert);
    B_Weather_Combo->addItems({QStringLiteral("阴天"), QStringLiteral("多云"), QStringLiteral("雨"),
                               QStringLiteral("雪")});
    B_Weather_Combo->setCurrentIndex(-1);
    diary::takeAnyLength(B_Title_text);
    diary::takeAnyLength(B_Weather_Combo->lineEdit());
    B_Weather_Combo->setEditText(QStringLiteral("晴"));
    Label4 = place(new QLabel(QStringLiteral("日记内容："), this), "Label4", 120, 1800, 975, 255);
    saveComm =
        place(new QPushButton(QStringLiteral("保存日记"), this), "saveComm", 3480, 1440, 1215, 495);
    findNoteComm = place(new QPushButton(QStringLiteral("浏览日记"), this), "findNoteComm", 4800,
                         1440, 1215, 495);
    helpComm =
        place(new QPushButton(QStringLiteral("关于"), this), "helpComm", 6120, 1440, 1215, 495);
    Label5 = place(new QLabel(this), "Label5", 7200, 1080, 2775, 255);
    hfComm = place(new QPushButton(QStringLiteral("换肤"), this), "hfComm", 2160, 1440, 1215, 495);
    reLoginComm = place(new QPushButton(QStringLiteral("重新登录"), this), "reLoginComm", 7440,
                        1440, 1215, 495);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);

    Label1->setBuddy(B_Title_text);
    Label2->setBuddy(B_Writer_text);
    Label3->setBuddy(B_Weather_Combo);
    Label4->setBuddy(B_Content_text);
    B_Title_text->setAccessibleName(QStringLiteral("标题"));
    B_Writer_text->setAccessibleName(QStringLiteral("作者"));
    B_Weather_Combo->setAccessibleName(QStringLiteral("天气"));
    B_Content_text->setAccessibleName(QStringLiteral("日记内容"));

    QWidget* order[] = {B_Content_text, B_Title_text, B_Writer_text, B_Weather_Combo, saveComm,
                        findNoteComm,   helpComm,     hfComm,        reLoginComm};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(saveComm, &QPushButton::clicked, this, &frmWrite::saveComm_Click);
    connect(findNoteComm, &QPushButton::clicked, this, &frmWrite::findNoteComm_Click);
    connect(helpComm, &QPushButton::clicked, this, &frmWrite::helpComm_Click);
    connect(hfComm, &QPushButton::clicked, this, &frmWrite::hfComm_Click);
    connect(reLoginComm, &QPushButton::clicked, this, &frmWrite::reLoginComm_Click);
    connect(B_Title_text, &diary::ClickLineEdit::clicked, this, &frmWrite::B_Title_text_Click);
    connect(Timer1, &QTimer::timeout, this, &frmWrite::Timer1_Timer);

    draft_ = new diary::DraftKeeper(
        vault::DraftKind::Write,
        [this] {
            return vault::DraftTexts{B_Title_text->text(), B_Weather_Combo->currentText(),
                                     diary::plainText(B_Content_text)};
        },
        this);
    const auto typed = [this] { draft_->changed(); };
    connect(B_Title_text, &QLineEdit::textChanged, this, typed);
    connect(B_Weather_Combo, &QComboBox::editTextChanged, this, typed);
    connect(B_Content_text, &QPlainTextEdit::textChanged, this, typed);

    Form_Load();
}

void frmWrite::closeEvent(QCloseEvent* e) {
    draft_->keepNow();
    diary::SkinnedForm::closeEvent(e);
}

void frmWrite::offerDrafts() {
    auto& dlg = app::Dialogs::instance();
    for (const auto kind : {vault::DraftKind::Write, vault::DraftKind::Edit}) {
        long long entry = 0;
        QString made;
        bool damaged = false;
        const auto texts = diary::DraftKeeper::stored(kind, &entry, &made, &damaged);
        if (damaged)
            dlg.message(
                this,
                QStringLiteral("有一份未保存的日记无法打开（已损坏或不属于你），已将其删除。"),
                app::kAppTitle, app::Icon::Exclamation);
        if (!texts)
            continue;
        if (!dlg.ask(this, QStringLiteral("发现未保存的日记（%1），是否恢复？").arg(made),
                     app::kAppTitle)) {
            diary::DraftKeeper::remove(kind);
            continue;
        }
        if (kind == vault::DraftKind::Edit) {
            auto* look = qobject_cast<frmLook*>(app::go(this, app::FormId::Look));
            if (look && look->resumeEdit(entry, *texts))
                return;
            // The entry is gone: its texts are not.
            dlg.message(nullptr,
                        QStringLiteral("原来的日记已经不存在，未保存的内容放在编写日记窗口中。"),
                        app::kAppTitle, app::Icon::Exclamation);
            auto* write = qobject_cast<frmWrite*>(app::go(look, app::FormId::Write));
            if (write)
                write->restore(*texts);
            return;
        }
        restore(*texts);
    }
}

void frmWrite::restore(const vault::DraftTexts& texts) {
    B_Title_text->setText(texts.title);
    B_Weather_Combo->setEditText(texts.weather);
    B_Content_text->setPlainText(texts.content);
    draft_->restored();
}

void frmWrite::Form_Load() {
    diary::centreOnScreen(this);
    applyCurrentSkin();
    showToday();
    B_Writer_text->setText(Module1::UserName);
    B_Content_text->setFocus();
    Timer1->start();
}

void frmWrite::showToday() {
    Label5->setText(QLocale().toString(app::now().date(), QLocale::ShortFormat));
}

void frmWrite::Timer1_Timer() {
    showToday();
}

void frmWrite::B_Title_text_Click() {
    diary::selectLine(B_Title_text);
}

void frmWrite::saveComm_Click() {
    auto& dlg = app::Dialogs::instance();
    const QString content = diary::plainText(B_Content_text);
    if (content.isEmpty()) {
        dlg.message(this, QStringLiteral("请先编写日记内容"), app::kAppTitle, app::Icon::None);
        return;
    }
    const bool saved = app::guarded(this, [&] {
        // The writer is whoever logged in: the locked box only shows it, and assistive
        // tools can still write into a read-only box.
        sql::Statement statement = sql::insertEntry(
            B_Title_text->text(), B_Weather_Combo->currentText(), content, Module1::UserName);
        statement.token = saveToken(statement);
        if (myAddRs.ocn().State() == 0)
            myAddRs.OpenData();
        if (myAddRs.hasRs() && myAddRs.rs().State() == 1) {
            myAddRs.rs().Close();
            myAddRs.releaseRs();
        }
        myAddRs.ocn().Execute(statement);
    });
    // Closed either way: a failed attempt starts the next one on a fresh connection.
    myAddRs.releaseOcn();
    if (!saved)
        return;
    token_.clear();
    draft_->discard();
    dlg.message(this, QStringLiteral("添加完成！"), QStringLiteral("警告"), app::Icon::Exclamation);
    app::go(this, app::FormId::Look);
}

// The same texts saved again after a failure carry the same token: when the failure was
// only the answer lost on its way back, the entry stored then is found, not stored twice.
// Changed texts are a new entry.
QByteArray frmWrite::saveToken(const sql::Statement& s) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    for (const sql::Value& v : s.params)
        h.addData(v.value.toString().toUtf8().append('\0'));
    const QByteArray texts = h.result();
    if (token_.isEmpty() || tokenTexts_ != texts) {
        quint32 random[4];
        QRandomGenerator::system()->fillRange(random);
        token_ = QByteArray(reinterpret_cast<const char*>(random), sizeof random);
        tokenTexts_ = texts;
    }
    return token_;
}

void frmWrite::findNoteComm_Click() {
    app::go(this, app::FormId::Look);
}

void frmWrite::reLoginComm_Click() {
    app::go(this, app::FormId::Login);
}

void frmWrite::helpComm_Click() {
    app::Dialogs::instance().message(
        this,
        QStringLiteral("DayVault 日记本\n\n为每一位用户保管自己的日记。\n"
                       "关闭本窗口后将打开使用手册。"),
        QStringLiteral("关于"), app::Icon::Information);
    app::openManual(this);
}

void frmWrite::hfComm_Click() {
    const QString path =
        app::Dialogs::instance().openFile(this, QStringLiteral("皮肤(*.jss)|*.jss"));
    if (path.isEmpty())
        return;
    // A file that is no skin would leave the window without caption bar and borders, so
    // without its close button, for the rest of the run; the current skin stays instead.
    const auto chosen = skin::SkinCache::load(path);
    if (chosen->isEmpty() || !chosen->picture(QStringLiteral("TOPLEFT"))) {
        app::Dialogs::instance().message(
            this,
            QStringLiteral("无法使用这个皮肤文件：\n%1\n窗口保持原来的皮肤。")
                .arg(QDir::toNativeSeparators(path)),
            app::kAppTitle, app::Icon::Exclamation);
        return;
    }
    applySkin(path, true);
    Module1::SkinPath = path;
}
