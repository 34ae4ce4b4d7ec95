// A real DayVault process driven from outside: saves entries through the writing window,
// or searches and steps through the browsing window, and reports every box it shows.
#include "EntryBody.h"
#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "shell/Dialogs.h"
#include "shell/Locale.h"
#include "shell/Navigation.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <cstdio>

namespace {

int errors = 0;

// Reports each box on stdout; a save is acknowledged only once its box is reached.
class ReportingDialogs : public app::Dialogs {
public:
    void message(QWidget*, const QString& text, const QString& title, app::Icon) override {
        if (text == u"添加完成！"_s) {
            std::printf("ACK %d\n", current);
        } else if (text != u"没有查找满足条件的数据！"_s) {
            ++errors;
            std::printf("BOX %s %s\n", title.toUtf8().constData(), text.toUtf8().constData());
        }
        std::fflush(stdout);
    }
    bool ask(QWidget*, const QString&, const QString&) override { return true; }
    QString input(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(QWidget*, const QString&) override { return {}; }
    int current = 0;
};

template <class T> T* child(QWidget* w, const char* name) {
    return w ? w->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

void setText(QWidget* form, const char* name, const QString& text) {
    if (auto* e = child<QLineEdit>(form, name))
        e->setText(text);
    else if (auto* t = child<QTextEdit>(form, name))
        t->setPlainText(text);
    else if (auto* p = child<QPlainTextEdit>(form, name))
        p->setPlainText(text);
    else if (auto* c = child<QComboBox>(form, name))
        c->setEditText(text);
}

void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication qapp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 5) {
        std::fputs("usage: diary_child FOLDER USER save|search COUNT [TAG]\n", stderr);
        return 2;
    }
    app::installChinese(qapp);
    app::registerForms();
    app::setOnAllUnloaded({});
    auto* dialogs = new ReportingDialogs;
    app::Dialogs::install(dialogs);
    app::setAppFolder(QString::fromLocal8Bit(argv[1]));
    Module1::UserName = QString::fromLocal8Bit(argv[2]);
    Module1::UserPopedom = 1;
    const QByteArray mode = argv[3];
    const int count = QByteArray(argv[4]).toInt();
    const QString tag = argc > 5 ? QString::fromLocal8Bit(argv[5]) : u"t"_s;

    if (mode == "save") {
        for (int n = 1; n <= count; ++n) {
            dialogs->current = n;
            QWidget* w = app::load(app::FormId::Write);
            setText(w, "B_Title_text", u"%1-%2"_s.arg(tag).arg(n));
            setText(w, "B_Weather_Combo", u"晴"_s);
            setText(w, "B_Content_text", entryBody(tag, n));
            child<QPushButton>(w, "saveComm")->click();
            if (QWidget* look = app::loaded(app::FormId::Look))
                app::unload(look);
            if (QWidget* still = app::loaded(app::FormId::Write))
                app::unload(still); // the save failed: leave it, report below
            settle();
        }
    } else {
        QWidget* look = app::load(app::FormId::Look);
        for (int i = 0; i < count; ++i) {
            child<QPushButton>(look, "queryComm")->click();
            for (int step = 0; step < 20; ++step)
                child<QPushButton>(look, "commNext")->click();
            settle();
        }
        app::unload(look);
        settle();
    }
    std::printf("DONE %d\n", errors);
    std::fflush(stdout);
    return errors ? 3 : 0;
}
