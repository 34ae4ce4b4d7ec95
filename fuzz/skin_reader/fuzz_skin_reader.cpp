// libFuzzer target: any bytes given to the skin reader must read as a bag or as nothing,
// without a crash, a hang or an outsized allocation, and what reads back must write back
// to an equal bag.
#include "skin/SkinFile.h"

#include <QBuffer>
#include <QByteArray>
#include <QtGlobal>
#include <cstdint>
#include <cstdlib>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void exercise(const skin::PropertyBag& bag) {
    for (const skin::Entry& e : bag.entries()) {
        const QString lower = e.key.toLower();
        switch (e.kind) {
        case skin::Kind::Picture:
            if (!bag.readPictureBytes(lower))
                std::abort();
            (void)skin::decodePicture(e.picture);
            break;
        case skin::Kind::Integer:
            if (bag.readInteger(lower) != e.integer)
                std::abort();
            break;
        case skin::Kind::Colour:
            if (bag.readColour(lower) != e.colour)
                std::abort();
            break;
        }
    }
    if (bag.isEmpty())
        return;
    const QByteArray again = skin::serializeSkin(bag);
    if (skin::parseSkin(again).contents() != bag.contents())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler(quiet); // the image decoders complain about every bad picture
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    exercise(skin::parseSkin(bytes));
    // The same bytes as bare bag contents, so mutations reach the entries sooner.
    skin::PropertyBag bare;
    bare.setContents(bytes);
    exercise(bare);
    // The size cap, with the first two bytes as its length, so both sides of its edge are
    // reached by inputs far smaller than the real cap.
    if (size >= 2) {
        QByteArray rest = bytes.mid(2);
        QBuffer in(&rest);
        in.open(QIODevice::ReadOnly);
        const qint64 cap = qint64(data[0]) | qint64(data[1]) << 8;
        const auto got = skin::readAtMost(in, cap);
        if (got.has_value() != (rest.size() <= cap) || (got && *got != rest))
            std::abort();
    }
    return 0;
}
