#pragma once
// What a window held when it was last kept, sealed with its writer's key like an entry and
// bound to being a draft: of which window, for which entry, kept when.
#include "vault/Cipher.h"

#include <QString>
#include <optional>

namespace vault {

// One draft a user and window: the writing window's, and the browser's edit of an entry.
enum class DraftKind { Write = 1, Edit = 2 };

struct DraftTexts {
    QString title, weather, content;
};

struct DraftPlace {
    QString writer;
    DraftKind kind = DraftKind::Write;
    long long entry = 0; // the entry edited; 0 for the writing window
    QString made;        // when it was kept, as the question shows it
};

Bytes sealDraft(const Secret& key, const DraftTexts& texts, const DraftPlace& at);
// Nothing when it does not open there: another key, another writer, kind, entry or time.
std::optional<DraftTexts> openDraft(const Secret& key, std::string_view sealed,
                                    const DraftPlace& at);

// The largest sealed draft a store takes: three texts of the largest entry the server takes.
constexpr std::size_t kMaxDraftBytes = (12u << 20) + 4096;

} // namespace vault
