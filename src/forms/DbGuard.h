#pragma once
#include <functional>

class QWidget;

namespace app {
// Runs the database work of one handler. A database failure is shown in one box
// (title "错误", stop icon, what failed and the file) and the window is left as it was,
// so nothing typed is lost. Returns false when the work failed.
bool guarded(QWidget* parent, const std::function<void()>& work);
} // namespace app
