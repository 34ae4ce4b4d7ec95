#pragma once
class QApplication;

namespace app {
// Chinese locale for every widget and Qt's own zh_CN texts (确定/取消/是/否, the calendar).
void installChinese(QApplication& app);
} // namespace app
