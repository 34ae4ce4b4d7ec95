#pragma once
// The titles (or texts) a session has opened, so a second search opens nothing again: IDs
// and writers in plain memory (the store keeps them plain too), the opened fields in
// libsodium's guarded memory, out of reach between searches. Wiped with the session's keys.
#include "vault/Cipher.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace vault {

// SQLite's LIKE without ESCAPE over UTF-8 texts: ASCII letters in either case, `%` any run
// and `_` one character; both end at a NUL. Texts must be valid UTF-8.
bool likeUtf8(std::string_view pattern, std::string_view text);

class Titles {
public:
    Titles() = default;
    Titles(const Titles&) = delete;
    Titles& operator=(const Titles&) = delete;
    ~Titles() { clear(); }

    // Every title wiped, the memory given back.
    void clear();
    // Bytes a reader may fill it with before it gives up (throws Full); a store over its cap
    // keeps nothing, and its searches open a batch at a time instead.
    std::size_t cap = SIZE_MAX;
    bool overCap = false;
    struct Full {};
    // The store the titles come from (its file, or its server); another one wipes them.
    void bindTo(const Bytes& source);
    bool empty() const { return index_.empty(); }
    std::size_t size() const { return index_.size(); }
    // Bytes held, the index and the guarded pages together.
    std::size_t memory() const;

    // A scope is the folded writer of a writer's search, or empty for everyone's rows. When
    // it was last brought up to date: the largest ID in the store, and which connection
    // looked at which version of the store (version -1: none told).
    struct Look {
        long long mark = 0;
        std::uint64_t engine = 0;
        long long version = -1;
    };
    Look look(const Bytes& scope) const;
    void setLook(const Bytes& scope, const Look& look) { looks_[scope] = look; }
    std::size_t count(const Bytes& scope) const;
    // The entries of a scope forgotten, to be read again whole.
    void dropScope(const Bytes& scope);
    bool has(long long id) const;

    // An entry as saved or changed by this session; no title for one that did not open.
    void put(long long id, const Bytes& foldedWriter, std::optional<std::string_view> title);
    void forget(long long id);

    // Titles opened straight into the store: room for `bytes` in guarded memory, writable
    // until close(); then each entry with where its title lies in that room.
    unsigned char* room(std::size_t bytes);
    void add(long long id, const Bytes& foldedWriter, std::size_t at, std::size_t length);
    void addUnopened(long long id, const Bytes& foldedWriter);
    void close();

    // The IDs of the scope's entries whose title matches, in ID order.
    std::vector<std::int64_t> match(std::string_view pattern, const Bytes& scope,
                                    unsigned threads) const;

private:
    struct Segment {
        unsigned char* p = nullptr;
        std::size_t capacity = 0, used = 0;
    };
    struct Entry {
        std::int64_t id;
        std::uint32_t writer;
        std::uint32_t segment;
        std::uint32_t at;
        std::int32_t length; // -1: no title
    };
    std::uint32_t writerIndex(const Bytes& folded);
    std::size_t find(long long id) const;
    void insert(const Entry& e);
    void wipe(const Entry& e);
    void access(int how) const;

    Bytes source_;
    std::vector<Segment> segments_;
    std::vector<Entry> index_;   // by ID
    std::vector<Entry> pending_; // added since the last close()
    std::vector<Bytes> writers_;
    std::map<Bytes, Look> looks_;
    bool puts_ = false; // the newest segment takes saves
};

} // namespace vault
