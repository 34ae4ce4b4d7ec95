#pragma once
#include <functional>

class QWidget;

namespace app {
// Runs the work of one handler that can fail. A database failure is shown in one box
// (title "错误", stop icon, what failed and the file), any other exception (memory, password
// hashing) in the same box with a fixed text, and the window is left as it was, so nothing
// typed is lost. Returns false when the work failed.
bool guarded(QWidget* parent, const std::function<void()>& work);
} // namespace app
