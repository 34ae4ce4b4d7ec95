#include "shell/Dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>
#include <memory>

namespace app {
namespace {
std::unique_ptr<Dialogs>& slot() {
    static std::unique_ptr<Dialogs> d;
    return d;
}
} // namespace

Dialogs& Dialogs::instance() {
    if (!slot())
        slot() = std::make_unique<QtDialogs>();
    return *slot();
}

void Dialogs::install(Dialogs* dialogs) {
    slot().reset(dialogs);
}

void QtDialogs::message(QWidget* parent, const QString& text, const QString& title, Icon icon) {
    QMessageBox::Icon qi = QMessageBox::NoIcon;
    switch (icon) {
    case Icon::Critical:
        qi = QMessageBox::Critical;
        break;
    case Icon::Question:
        qi = QMessageBox::Question;
        break;
    case Icon::Exclamation:
        qi = QMessageBox::Warning;
        break;
    case Icon::Information:
        qi = QMessageBox::Information;
        break;
    case Icon::None:
        break;
    }
    QMessageBox box(qi, title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtDialogs::ask(QWidget* parent, const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::input(QWidget* parent, const QString& prompt, const QString& title,
                         const QString& defaultText) {
    bool ok = false;
    QString text =
        QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

namespace {
// "desc|pat|desc|pat" as a Qt name filter list "desc (pat);;...".
QString toQtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i];
        const QString pattern = parts[i + 1];
        if (!desc.contains(pattern))
            desc += QStringLiteral(" (%1)").arg(pattern);
        out << desc;
    }
    return out.join(QStringLiteral(";;"));
}
} // namespace

QString QtDialogs::openFile(QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), toQtFilter(filter));
}

} // namespace app
