// dayvault-skin: builds skin files from folders of pictures and back.
#include "skinpack/SkinPack.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

void say(FILE* to, const QString& text) {
    const QByteArray b = text.toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), to);
    std::fputc('\n', to);
}

int usage() {
    say(stderr, QStringLiteral("usage: dayvault-skin pack DIR OUT.jss\n"
                               "       dayvault-skin unpack FILE.jss DIR\n"
                               "       dayvault-skin list FILE.jss"));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString cmd = args[0];
    if (cmd == u"pack" && args.size() == 3) {
        const auto r = skinpack::pack(args[1], args[2]);
        if (!r.ok) {
            say(stderr, QStringLiteral("dayvault-skin: ") + r.error);
            return 1;
        }
        return 0;
    }
    if (cmd == u"unpack" && args.size() == 3) {
        const auto r = skinpack::unpack(args[1], args[2]);
        if (!r.ok) {
            say(stderr, QStringLiteral("dayvault-skin: ") + r.error);
            return 1;
        }
        return 0;
    }
    if (cmd == u"list" && args.size() == 2) {
        QString error;
        const auto lines = skinpack::list(args[1], &error);
        if (!lines) {
            say(stderr, QStringLiteral("dayvault-skin: ") + error);
            return 1;
        }
        for (const QString& l : *lines)
            say(stdout, l);
        return 0;
    }
    return usage();
}
