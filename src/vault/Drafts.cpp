#include "vault/Drafts.h"

#include <sodium.h>

namespace vault {
namespace {

// The column a draft's seal is bound to: never an entry's, so neither passes for the other.
FieldPlace placeOf(const DraftPlace& at) {
    return {QStringLiteral("JR_draft:%1").arg(int(at.kind)), at.writer, at.entry, at.made};
}

void append(Bytes& out, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const auto n = std::uint32_t(utf8.size());
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(char((n >> shift) & 0xff));
    out.append(utf8.constData(), std::size_t(utf8.size()));
}

std::optional<QString> take(std::string_view& in) {
    if (in.size() < 4)
        return std::nullopt;
    std::uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
        n |= std::uint32_t(static_cast<unsigned char>(in[std::size_t(i)])) << (8 * i);
    in.remove_prefix(4);
    if (n > in.size())
        return std::nullopt;
    const QString text = QString::fromUtf8(in.data(), qsizetype(n));
    in.remove_prefix(n);
    return text;
}

} // namespace

Bytes sealDraft(const Secret& key, const DraftTexts& texts, const DraftPlace& at) {
    Bytes plain;
    for (const QString* t : {&texts.title, &texts.weather, &texts.content})
        append(plain, *t);
    Bytes sealed = sealField(key, plain, placeOf(at));
    sodium_memzero(plain.data(), plain.size());
    return sealed;
}

std::optional<DraftTexts> openDraft(const Secret& key, std::string_view sealed,
                                    const DraftPlace& at) {
    std::optional<Bytes> plain = openField(key, sealed, placeOf(at));
    if (!plain)
        return std::nullopt;
    std::string_view in(*plain);
    DraftTexts texts;
    bool whole = true;
    for (QString* t : {&texts.title, &texts.weather, &texts.content}) {
        const auto next = take(in);
        whole = whole && next.has_value();
        if (next)
            *t = *next;
    }
    sodium_memzero(plain->data(), plain->size());
    if (!whole || !in.empty())
        return std::nullopt;
    return texts;
}

} // namespace vault
