#include "skin/SkinCache.h"

#include <QDateTime>
#include <QFileInfo>
#include <list>

namespace skin {

std::optional<QPixmap> Skin::picture(const QString& key) const {
    const QString k = key.toCaseFolded();
    auto it = m_pictures.find(k);
    if (it == m_pictures.end()) {
        std::optional<QPixmap> p;
        if (const auto img = m_bag.readPicture(key))
            p = QPixmap::fromImage(*img);
        it = m_pictures.insert(k, p);
    }
    return *it;
}

std::optional<QColor> Skin::color(const QString& key) const {
    const auto v = colour(key);
    if (!v)
        return std::nullopt;
    const QColor c = toQColor(*v);
    if (!c.isValid())
        return std::nullopt;
    return c;
}

namespace {

struct Stamp {
    QString path;
    qint64 size = -1;
    qint64 mtime = 0;
    bool operator==(const Stamp&) const = default;
};

struct State {
    bool enabled = true;
    int reads = 0;
    // Most recently used first; a handful of skins at most are ever in play.
    std::list<std::pair<Stamp, std::shared_ptr<const Skin>>> entries;
};

State& state() {
    static State s;
    return s;
}

constexpr size_t kKeep = 8;

std::shared_ptr<const Skin> readFresh(const QString& path) {
    ++state().reads;
    return std::make_shared<const Skin>(ReadSkinFile(path));
}

} // namespace

std::shared_ptr<const Skin> SkinCache::load(const QString& path) {
    State& s = state();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile()) {
        static const auto empty = std::make_shared<const Skin>(PropertyBag());
        return empty;
    }
    if (!s.enabled)
        return readFresh(path);
    const Stamp stamp{info.absoluteFilePath(), info.size(),
                      info.lastModified().toMSecsSinceEpoch()};
    for (auto it = s.entries.begin(); it != s.entries.end(); ++it) {
        if (it->first == stamp) {
            s.entries.splice(s.entries.begin(), s.entries, it);
            return s.entries.front().second;
        }
    }
    // A changed file replaces the entry of its path.
    s.entries.remove_if([&](const auto& e) { return e.first.path == stamp.path; });
    auto skin = readFresh(path);
    s.entries.emplace_front(stamp, skin);
    if (s.entries.size() > kKeep)
        s.entries.pop_back();
    return skin;
}

void SkinCache::setEnabled(bool on) {
    state().enabled = on;
    if (!on)
        clear();
}

void SkinCache::clear() {
    state().entries.clear();
}
int SkinCache::fileReads() {
    return state().reads;
}

} // namespace skin
