#pragma once
// The diary windows with two solid-colour skins in the application folder: 16.jss (caption
// bar 30 px high, borders 5 px) and other.jss (24 px, 4 px), so a window's caption height and
// border colour tell which skin it wears.
#include "DiaryApp.h"
#include "forms/SkinnedForm.h"

#include <QColor>
#include <functional>

class SkinnedApp : public DiaryApp {
protected:
    void SetUp() override;
    void TearDown() override;

    struct SkinLook {
        int caption;
        int border;
        QColor colour;
    };
    static inline const SkinLook kDefault{30, 5, QColor(0x20, 0x40, 0xC0)};
    static inline const SkinLook kOther{24, 4, QColor(0xB0, 0xB0, 0xB8)};
    QString writeSkin(const QString& name, const SkinLook& look);

    // Both skinned windows, each freshly loaded and shown.
    std::vector<diary::SkinnedForm*> openBoth();
    // Each skinned window on its own, loaded, shown, then unloaded: the pointer of a test
    // belongs to the window it is over.
    void eachAlone(const std::function<void(diary::SkinnedForm*)>& test);
    // Which of the two skins the window's controls wear: "16", "other", or "mixed".
    QString skinOf(diary::SkinnedForm* form) const;

    QString defaultSkin, otherSkin;
};
