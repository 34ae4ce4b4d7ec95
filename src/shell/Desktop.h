#pragma once
// Platform calls that a test must be able to watch or make fail.
#include <QRect>
#include <QUrl>
#include <Qt>
#include <optional>

class QWidget;

namespace app {

class Desktop {
public:
    virtual ~Desktop() = default;
    virtual bool openUrl(const QUrl& url) = 0;
    virtual void setTopMost(QWidget* window, bool on) = 0;
    // False when the window system will not take over; callers then move/resize by hand.
    virtual bool startMove(QWidget* window) = 0;
    virtual bool startResize(QWidget* window, Qt::Edges edges) = 0;
    // The work area of the window's screen, in pixels; nullopt when it cannot be had.
    virtual std::optional<QRect> workArea(QWidget* window) = 0;

    static Desktop& instance();
    // Takes ownership; nullptr restores the real desktop.
    static void install(Desktop* desktop);
};

class QtDesktop : public Desktop {
public:
    bool openUrl(const QUrl& url) override;
    void setTopMost(QWidget* window, bool on) override;
    bool startMove(QWidget* window) override;
    bool startResize(QWidget* window, Qt::Edges edges) override;
    std::optional<QRect> workArea(QWidget* window) override;
};

// The user manual shipped in the application folder.
QUrl manualUrl();
// Opens it in the web launcher, or says where it is when none opens it.
void openManual(QWidget* parent);

} // namespace app
