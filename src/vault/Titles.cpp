#include "vault/Titles.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sodium.h>
#include <thread>

namespace vault {
namespace {

unsigned char lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

// Past the character that starts at `i`.
std::size_t next(std::string_view s, std::size_t i) {
    for (++i; i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;)
        ++i;
    return i;
}

std::string_view upToNul(std::string_view s) {
    return s.substr(0, std::min(s.find('\0'), s.size()));
}

// The search the windows make, "%text%" with no wildcard inside and no ASCII letter, is a
// plain substring search; anything else goes the general way.
class Matcher {
public:
    explicit Matcher(std::string_view pattern) : p_(upToNul(pattern)) {
        if (p_.size() < 2 || p_.front() != '%' || p_.back() != '%')
            return;
        std::string_view inner = p_.substr(std::min(p_.find_first_not_of('%'), p_.size()));
        inner = inner.substr(0, inner.find_last_not_of('%') + 1);
        literal_ = std::none_of(inner.begin(), inner.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return c == '%' || c == '_' || lower(u) != u || (c >= 'a' && c <= 'z');
        });
        inner_ = inner;
    }
    bool operator()(std::string_view text) const {
        if (literal_)
            return inner_.empty() ||
                   memmem(text.data(), text.size(), inner_.data(), inner_.size()) != nullptr;
        return likeUtf8(p_, text);
    }

private:
    std::string_view p_, inner_;
    bool literal_ = false;
};

} // namespace

bool likeUtf8(std::string_view pattern, std::string_view text) {
    const std::string_view p = upToNul(pattern), t = upToNul(text);
    // Greedy with one backtrack point, as the engine's: the last `%` and where its match stands.
    std::size_t i = 0, j = 0, mark = 0;
    bool star = false;
    std::size_t starAt = 0;
    while (j < t.size()) {
        if (i < p.size() && p[i] == '%') {
            star = true;
            starAt = i++;
            mark = j;
        } else if (i < p.size() && p[i] == '_') {
            ++i;
            j = next(t, j);
        } else if (i < p.size() && lower(static_cast<unsigned char>(p[i])) ==
                                       lower(static_cast<unsigned char>(t[j]))) {
            ++i;
            ++j;
        } else if (star) {
            i = starAt + 1;
            j = mark = next(t, mark);
        } else {
            return false;
        }
    }
    while (i < p.size() && p[i] == '%')
        ++i;
    return i == p.size();
}

void Titles::clear() {
    for (Segment& s : segments_) {
        sodium_mprotect_readwrite(s.p);
        sodium_free(s.p); // zeroes before it frees
    }
    segments_.clear();
    index_.clear();
    index_.shrink_to_fit();
    pending_.clear();
    writers_.clear();
    looks_.clear();
    source_.clear();
    overCap = false;
}

void Titles::bindTo(const Bytes& source) {
    if (source != source_) {
        clear();
        source_ = source;
    }
}

std::size_t Titles::memory() const {
    std::size_t n = index_.capacity() * sizeof(Entry);
    for (const Segment& s : segments_)
        n += s.capacity;
    return n;
}

void Titles::access(int how) const {
    for (const Segment& s : segments_)
        how == 0   ? sodium_mprotect_noaccess(s.p)
        : how == 1 ? sodium_mprotect_readonly(s.p)
                   : sodium_mprotect_readwrite(s.p);
}

std::uint32_t Titles::writerIndex(const Bytes& folded) {
    const auto it = std::find(writers_.begin(), writers_.end(), folded);
    if (it != writers_.end())
        return std::uint32_t(it - writers_.begin());
    writers_.push_back(folded);
    return std::uint32_t(writers_.size() - 1);
}

Titles::Look Titles::look(const Bytes& scope) const {
    const auto it = looks_.find(scope);
    return it == looks_.end() ? Look() : it->second;
}

std::size_t Titles::count(const Bytes& scope) const {
    if (scope.empty())
        return index_.size();
    const auto it = std::find(writers_.begin(), writers_.end(), scope);
    if (it == writers_.end())
        return 0;
    const auto w = std::uint32_t(it - writers_.begin());
    return std::size_t(
        std::count_if(index_.begin(), index_.end(), [w](const Entry& e) { return e.writer == w; }));
}

std::size_t Titles::find(long long id) const {
    const auto it = std::lower_bound(index_.begin(), index_.end(), id,
                                     [](const Entry& e, long long v) { return e.id < v; });
    return it != index_.end() && it->id == id ? std::size_t(it - index_.begin()) : index_.size();
}

bool Titles::has(long long id) const {
    return find(id) < index_.size();
}

void Titles::wipe(const Entry& e) {
    if (e.length <= 0)
        return;
    const Segment& s = segments_[e.segment];
    sodium_mprotect_readwrite(s.p);
    sodium_memzero(s.p + e.at, std::size_t(e.length));
    sodium_mprotect_noaccess(s.p);
}

void Titles::dropScope(const Bytes& scope) {
    if (scope.empty()) {
        const Bytes source = source_;
        clear();
        source_ = source;
        return;
    }
    const auto it = std::find(writers_.begin(), writers_.end(), scope);
    if (it != writers_.end()) {
        const auto w = std::uint32_t(it - writers_.begin());
        std::erase_if(index_, [&](const Entry& e) {
            if (e.writer != w)
                return false;
            wipe(e);
            return true;
        });
    }
    // Everyone's rows are no longer all here: the next such search reads the missing again.
    looks_.erase(scope);
    looks_.erase(Bytes());
}

void Titles::forget(long long id) {
    const std::size_t at = find(id);
    if (at == index_.size())
        return;
    wipe(index_[at]);
    index_.erase(index_.begin() + std::ptrdiff_t(at));
}

void Titles::put(long long id, const Bytes& foldedWriter, std::optional<std::string_view> title) {
    forget(id);
    Entry e{id, writerIndex(foldedWriter), 0, 0, -1};
    if (title) {
        const std::string_view t = upToNul(*title);
        // A save lands in the newest page kept for saves while it has room.
        if (segments_.empty() || segments_.back().capacity - segments_.back().used < t.size() ||
            !puts_) {
            room(std::max<std::size_t>(t.size(), 16384));
            segments_.back().used = 0;
            close();
            puts_ = true;
        }
        Segment& s = segments_.back();
        sodium_mprotect_readwrite(s.p);
        std::memcpy(s.p + s.used, t.data(), t.size());
        sodium_mprotect_noaccess(s.p);
        e.segment = std::uint32_t(segments_.size() - 1);
        e.at = std::uint32_t(s.used);
        e.length = std::int32_t(t.size());
        s.used += t.size();
    }
    insert(e);
}

void Titles::insert(const Entry& e) {
    const auto it = std::lower_bound(index_.begin(), index_.end(), e.id,
                                     [](const Entry& x, long long v) { return x.id < v; });
    index_.insert(it, e);
}

unsigned char* Titles::room(std::size_t bytes) {
    initSodium();
    auto* p = static_cast<unsigned char*>(sodium_malloc(std::max<std::size_t>(bytes, 1)));
    if (!p)
        throw std::bad_alloc();
    segments_.push_back({p, bytes, bytes});
    puts_ = false;
    return p;
}

void Titles::add(long long id, const Bytes& foldedWriter, std::size_t at, std::size_t length) {
    pending_.push_back({id, writerIndex(foldedWriter), std::uint32_t(segments_.size() - 1),
                        std::uint32_t(at), std::int32_t(length)});
}

void Titles::addUnopened(long long id, const Bytes& foldedWriter) {
    pending_.push_back({id, writerIndex(foldedWriter), 0, 0, -1});
}

void Titles::close() {
    access(0);
    if (pending_.empty())
        return;
    const auto byId = [](const Entry& a, const Entry& b) { return a.id < b.id; };
    if (!std::is_sorted(pending_.begin(), pending_.end(), byId))
        std::sort(pending_.begin(), pending_.end(), byId);
    const std::size_t before = index_.size();
    index_.insert(index_.end(), pending_.begin(), pending_.end());
    pending_.clear();
    if (before && index_[before - 1].id > index_[before].id)
        std::inplace_merge(index_.begin(), index_.begin() + std::ptrdiff_t(before), index_.end(),
                           byId);
}

std::vector<std::int64_t> Titles::match(std::string_view pattern, const Bytes& scope,
                                        unsigned threads) const {
    std::uint32_t w = 0;
    if (!scope.empty()) {
        const auto it = std::find(writers_.begin(), writers_.end(), scope);
        if (it == writers_.end())
            return {};
        w = std::uint32_t(it - writers_.begin());
    }
    const Matcher matches(pattern);
    const std::size_t n = index_.size();
    const std::size_t parts = std::clamp<std::size_t>(n / 4096, 1, std::max(threads, 1u));
    std::vector<std::vector<std::int64_t>> found(parts);
    const auto share = [&](std::size_t part) {
        for (std::size_t i = n * part / parts, end = n * (part + 1) / parts; i < end; ++i) {
            const Entry& e = index_[i];
            if (e.length < 0 || (!scope.empty() && e.writer != w))
                continue;
            const auto* t = reinterpret_cast<const char*>(segments_[e.segment].p + e.at);
            if (matches(std::string_view(t, std::size_t(e.length))))
                found[part].push_back(e.id);
        }
    };
    access(1);
    std::vector<std::thread> helpers;
    for (std::size_t part = 1; part < parts; ++part)
        helpers.emplace_back(share, part);
    share(0);
    for (std::thread& h : helpers)
        h.join();
    access(0);
    std::vector<std::int64_t> keys = std::move(found[0]);
    for (std::size_t part = 1; part < parts; ++part)
        keys.insert(keys.end(), found[part].begin(), found[part].end());
    return keys;
}

} // namespace vault
