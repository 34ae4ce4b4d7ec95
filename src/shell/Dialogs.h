#pragma once
// Every modal box goes through here so tests can script the answers.
#include <QString>

class QWidget;

namespace app {

enum class Icon { None, Critical, Question, Exclamation, Information };

// The application title used by boxes that name no title of their own.
inline const QString kAppTitle = QStringLiteral("diary pad");

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void message(QWidget* parent, const QString& text, const QString& title, Icon icon) = 0;
    // Yes/No question without icon; true for Yes.
    virtual bool ask(QWidget* parent, const QString& text, const QString& title) = 0;
    // Cancel gives an empty text.
    virtual QString input(QWidget* parent, const QString& prompt, const QString& title,
                          const QString& defaultText) = 0;
    // Filter in the "description|pattern" form; empty when cancelled.
    virtual QString openFile(QWidget* parent, const QString& filter) = 0;

    static Dialogs& instance();
    // Takes ownership; nullptr restores the real dialogs.
    static void install(Dialogs* dialogs);
};

// The real boxes, built on QMessageBox, QInputDialog and QFileDialog.
class QtDialogs : public Dialogs {
public:
    void message(QWidget* parent, const QString& text, const QString& title, Icon icon) override;
    bool ask(QWidget* parent, const QString& text, const QString& title) override;
    QString input(QWidget* parent, const QString& prompt, const QString& title,
                  const QString& defaultText) override;
    QString openFile(QWidget* parent, const QString& filter) override;
};

} // namespace app
