#pragma once
// Which window opens which: forms never include each other, they ask here.
#include <QString>
#include <functional>

class QWidget;

namespace app {

enum class FormId { Login, Write, Look, Month };

using FormFactory = std::function<QWidget*()>;
void registerForm(FormId id, FormFactory factory);

// Creates the window (its load steps run) and counts it as loaded.
QWidget* load(FormId id);
// Shows a loaded window without modality.
void show(QWidget* form);
// Closes the window (its unload steps run) and destroys it.
void unload(QWidget* form);
// Unload `from`, load `to`, show it: the order every transition keeps.
QWidget* go(QWidget* from, FormId to);

// The loaded window of that kind, or nullptr.
QWidget* loaded(FormId id);
int loadedCount();

// Runs when, after the current event, no window is loaded; by default ends the process.
void setOnAllUnloaded(std::function<void()> handler);

} // namespace app
