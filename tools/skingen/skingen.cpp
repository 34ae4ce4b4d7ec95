// dayvault-skingen: draws the pieces of the shipped skins (skins/<name>/*.png + skin.ini).
//   dayvault-skingen SCHEME OUTDIR [PREVIEW.png]     SCHEME: blue | silver
// Every picture is opaque: the controls copy pieces without blending, so each button is
// drawn over the caption background it will sit on.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace {

constexpr int kCaption = 30; // caption bar height
constexpr int kEnd = 10;     // caption end pieces
constexpr int kMid = 8;      // tile widths and heights
constexpr int kFrame = 5;    // border thickness
constexpr int kBtnW = 26;    // caption buttons
constexpr int kBtnH = 19;
constexpr int kFromTop = 5;
constexpr int kFromRight = 6;
constexpr int kIconSpace = 2;

struct Scheme {
    // caption
    QColor highlight, capTop, capMid, capLow, capBottom, capEdge;
    // frame: outer line, body (outer side -> inner side), inner line
    QColor outer, bodyOut, bodyIn, inner;
    // buttons
    QColor btnFill, btnBorder, btnHoverFill, btnHoverBorder, btnDownFill, btnDownBorder;
    QColor glyph, glyphShade, closeHot, closeHotLow, closeDown, closeBorder, pinOn;
    // title text, its shadow, window background (as written to skin.ini)
    QString title, shadow, parentBack;
};

Scheme blue() {
    Scheme s;
    s.highlight = QColor(0x9d, 0xc3, 0xf4);
    s.capTop = QColor(0x5e, 0x98, 0xe2);
    s.capMid = QColor(0x3f, 0x7c, 0xd2);
    s.capLow = QColor(0x2b, 0x62, 0xb6);
    s.capBottom = QColor(0x24, 0x56, 0xa4);
    s.capEdge = QColor(0x17, 0x3b, 0x75);
    s.outer = QColor(0x17, 0x3b, 0x75);
    s.bodyOut = QColor(0x3a, 0x73, 0xc6);
    s.bodyIn = QColor(0x2c, 0x61, 0xb2);
    s.inner = QColor(0x1e, 0x48, 0x8a);
    s.btnFill = QColor(255, 255, 255, 34);
    s.btnBorder = QColor(255, 255, 255, 90);
    s.btnHoverFill = QColor(255, 255, 255, 78);
    s.btnHoverBorder = QColor(255, 255, 255, 170);
    s.btnDownFill = QColor(10, 30, 70, 90);
    s.btnDownBorder = QColor(10, 30, 70, 160);
    s.glyph = QColor(255, 255, 255);
    s.glyphShade = QColor(16, 40, 84, 150);
    s.closeHot = QColor(0xe8, 0x5a, 0x4f);
    s.closeHotLow = QColor(0xc4, 0x32, 0x2a);
    s.closeDown = QColor(0x9e, 0x24, 0x1e);
    s.closeBorder = QColor(0x7a, 0x16, 0x12);
    s.pinOn = QColor(0xff, 0xd8, 0x5c);
    s.title = QStringLiteral("#FFFFFF");
    s.shadow = QStringLiteral("#16386B");
    s.parentBack = QStringLiteral("#EEF3FB");
    return s;
}

Scheme silver() {
    Scheme s;
    s.highlight = QColor(0xff, 0xff, 0xff);
    s.capTop = QColor(0xf3, 0xf4, 0xf6);
    s.capMid = QColor(0xe2, 0xe5, 0xe9);
    s.capLow = QColor(0xd2, 0xd6, 0xdc);
    s.capBottom = QColor(0xc6, 0xcb, 0xd2);
    s.capEdge = QColor(0x86, 0x8d, 0x97);
    s.outer = QColor(0x86, 0x8d, 0x97);
    s.bodyOut = QColor(0xe4, 0xe7, 0xeb);
    s.bodyIn = QColor(0xcf, 0xd3, 0xd9);
    s.inner = QColor(0xa3, 0xa9, 0xb2);
    s.btnFill = QColor(255, 255, 255, 120);
    s.btnBorder = QColor(0x8e, 0x95, 0x9f, 150);
    s.btnHoverFill = QColor(255, 255, 255, 230);
    s.btnHoverBorder = QColor(0x6f, 0x78, 0x84, 220);
    s.btnDownFill = QColor(0x9c, 0xa4, 0xae, 170);
    s.btnDownBorder = QColor(0x5d, 0x65, 0x70, 230);
    s.glyph = QColor(0x33, 0x39, 0x41);
    s.glyphShade = QColor(255, 255, 255, 200);
    s.closeHot = QColor(0xe8, 0x5a, 0x4f);
    s.closeHotLow = QColor(0xc4, 0x32, 0x2a);
    s.closeDown = QColor(0x9e, 0x24, 0x1e);
    s.closeBorder = QColor(0x7a, 0x16, 0x12);
    s.pinOn = QColor(0x2f, 0x7d, 0xd8);
    s.title = QStringLiteral("#2B3036");
    s.shadow = QStringLiteral("#FFFFFF");
    s.parentBack = QStringLiteral("system:15");
    return s;
}

QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// Caption background colour of row y: a light top line, a glossy upper half, a darker lower
// half and a dark bottom line.
QColor captionRow(const Scheme& s, int y) {
    if (y == 0)
        return s.highlight;
    if (y == kCaption - 1)
        return s.capEdge;
    const int half = kCaption / 2;
    if (y < half)
        return mix(s.capTop, s.capMid, double(y - 1) / (half - 2));
    return mix(s.capLow, s.capBottom, double(y - half) / (kCaption - 2 - half));
}

QImage opaque(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::black);
    return img;
}

QImage captionStrip(const Scheme& s, int w) {
    QImage img = opaque(w, kCaption);
    for (int y = 0; y < kCaption; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, captionRow(s, y));
    return img;
}

// Left caption end; the window's shape cuts a 3 x 3 triangle off its top-left corner.
QImage captionLeft(const Scheme& s) {
    QImage img = captionStrip(s, kEnd);
    for (int y = 0; y < kCaption; ++y)
        for (int x = 0; x < kEnd; ++x) {
            if (x + y <= 3 || x == 0)
                img.setPixelColor(x, y, s.capEdge);
            else if (x == 1 && y < kCaption - 1)
                img.setPixelColor(x, y, mix(captionRow(s, y), s.highlight, 0.45));
            else if (x + y == 4)
                img.setPixelColor(x, y, mix(s.capEdge, s.highlight, 0.5));
        }
    return img;
}

// Right caption end; the shape cuts a triangle 3 wide and 4 high off its top-right corner.
QImage captionRight(const Scheme& s) {
    QImage img = captionStrip(s, kEnd);
    for (int y = 0; y < kCaption; ++y)
        for (int x = 0; x < kEnd; ++x) {
            const int fromRight = kEnd - 1 - x;
            // Outside or on the cut line (W - 3, 0) .. (W, 4).
            const bool cut = 3 * y <= 4 * (3 - fromRight) + 1;
            if (cut || fromRight == 0)
                img.setPixelColor(x, y, s.capEdge);
            else if (fromRight == 1 && y < kCaption - 1)
                img.setPixelColor(x, y, mix(captionRow(s, y), s.capEdge, 0.35));
        }
    return img;
}

// Frame pixel at distance d from the outer edge.
QColor frameAt(const Scheme& s, int d) {
    if (d <= 0)
        return s.outer;
    if (d >= kFrame - 1)
        return s.inner;
    return mix(s.bodyOut, s.bodyIn, double(d - 1) / (kFrame - 3));
}

// A side or bottom piece: dist(x, y) gives the distance from the outer edge(s).
QImage framePiece(const Scheme& s, int w, int h, const std::function<int(int, int)>& dist) {
    QImage img = opaque(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, frameAt(s, dist(x, y)));
    return img;
}

// The top of a side border, just under the caption: its dark bottom line turns the corner.
QImage sideTop(const Scheme& s, bool left) {
    QImage img = framePiece(s, kFrame, 12, [&](int x, int) { return left ? x : kFrame - 1 - x; });
    for (int x = 0; x < kFrame; ++x) {
        const int d = left ? x : kFrame - 1 - x;
        if (d > 0 && d < kFrame - 1)
            img.setPixelColor(x, 0, mix(frameAt(s, d), s.capEdge, 0.35));
    }
    return img;
}

// ---- buttons ----

enum class State { Normal, Hover, Down };
enum class Glyph { Close, Max, Restore, Min, PinOff, PinOn };

void drawGlyph(QPainter& p, const Scheme& s, Glyph g, QPoint c, const QColor& colour,
               const QColor& face) {
    p.save();
    p.translate(c);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    switch (g) {
    case Glyph::Close:
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(colour, 1.7, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(-3.5, -3.5), QPointF(4.5, 4.5));
        p.drawLine(QPointF(-3.5, 4.5), QPointF(4.5, -3.5));
        break;
    case Glyph::Max:
        p.drawRect(QRect(-4, -4, 9, 8));
        p.drawLine(-4, -3, 5, -3);
        break;
    case Glyph::Restore:
        p.drawRect(QRect(-2, -5, 7, 6));
        p.drawLine(-2, -4, 5, -4);
        p.fillRect(QRect(-5, -2, 8, 7), face);
        p.drawRect(QRect(-5, -2, 7, 6));
        p.drawLine(-5, -1, 2, -1);
        break;
    case Glyph::Min:
        p.fillRect(QRect(-4, 3, 9, 2), colour);
        break;
    case Glyph::PinOff:
    case Glyph::PinOn: {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.translate(0.5, 0.5);
        if (g == Glyph::PinOff)
            p.rotate(45);
        QPainterPath head;
        head.addRoundedRect(QRectF(-3, -6, 6, 6.5), 1.2, 1.2);
        QPainterPath plate;
        plate.addRoundedRect(QRectF(-5, 0, 10, 1.8), 0.8, 0.8);
        p.setPen(QPen(colour, 1.1));
        p.setBrush(g == Glyph::PinOn ? QBrush(s.pinOn) : QBrush(Qt::NoBrush));
        p.drawPath(head);
        p.setBrush(colour);
        p.drawPath(plate);
        p.setPen(QPen(colour, 1.3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, 2), QPointF(0, 6));
        break;
    }
    }
    p.restore();
}

QImage button(const Scheme& s, Glyph g, State st) {
    // The caption rows the button covers, then the button over them.
    QImage img = opaque(kBtnW, kBtnH);
    for (int y = 0; y < kBtnH; ++y)
        for (int x = 0; x < kBtnW; ++x)
            img.setPixelColor(x, y, captionRow(s, y + kFromTop));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r(0.5, 0.5, kBtnW - 1, kBtnH - 1);
    const bool close = g == Glyph::Close;
    const bool on = g == Glyph::PinOn;
    QColor fill = s.btnFill, border = s.btnBorder;
    if (st == State::Hover || on) {
        fill = s.btnHoverFill;
        border = s.btnHoverBorder;
    }
    if (st == State::Down) {
        fill = s.btnDownFill;
        border = s.btnDownBorder;
    }
    if (close && st != State::Normal) {
        QLinearGradient grad(0, 0, 0, kBtnH);
        grad.setColorAt(0, st == State::Down ? s.closeDown : s.closeHot);
        grad.setColorAt(1, st == State::Down ? s.closeDown.darker(110) : s.closeHotLow);
        p.setBrush(grad);
        p.setPen(QPen(s.closeBorder, 1));
    } else {
        QLinearGradient grad(0, 0, 0, kBtnH);
        QColor top = fill, low = fill;
        top.setAlpha(std::min(255, fill.alpha() + 40));
        grad.setColorAt(0, top);
        grad.setColorAt(0.5, fill);
        grad.setColorAt(1, low);
        p.setBrush(grad);
        p.setPen(QPen(border, 1));
    }
    p.drawRoundedRect(r, 4, 4);
    // A soft light line inside the top edge gives the button some depth.
    if (st != State::Down) {
        p.setPen(QPen(QColor(255, 255, 255, close && st == State::Hover ? 90 : 60), 1));
        p.drawLine(QPointF(4, 1.5), QPointF(kBtnW - 4, 1.5));
    }
    const int shift = st == State::Down ? 1 : 0;
    const QPoint centre(kBtnW / 2 + shift, kBtnH / 2 + shift);
    const bool hotClose = close && st != State::Normal;
    const QColor glyph = hotClose ? QColor(Qt::white) : s.glyph;
    const QColor shade = hotClose ? QColor(80, 0, 0, 120) : s.glyphShade;
    // Restore's front window hides the back one: give it the button's own face.
    const QColor face = img.pixelColor(centre.x() - 1, centre.y() + 2);
    drawGlyph(p, s, g, centre + QPoint(0, 1), shade, face);
    drawGlyph(p, s, g, centre, glyph, face);
    p.end();
    return img;
}

bool save(const QImage& img, const QDir& dir, const char* key) {
    const QString path = dir.filePath(QString::fromLatin1(key) + QStringLiteral(".png"));
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// A sample window made of the pieces, the way the controls put them together.
QImage preview(const std::map<QString, QImage>& pic, const Scheme& s, int w, int h) {
    QImage img = opaque(w, h);
    img.fill(s.parentBack.startsWith(u'#') ? QColor(s.parentBack) : QColor(0xef, 0xef, 0xef));
    QPainter p(&img);
    for (int x = 0; x <= w; x += kMid)
        p.drawImage(x, 0, pic.at(QStringLiteral("TOPMID")));
    p.drawImage(0, 0, pic.at(QStringLiteral("TOPLEFT")));
    p.drawImage(w - kEnd, 0, pic.at(QStringLiteral("TOPRIGHT")));
    int x = w - kFromRight;
    for (const char* k : {"CLOSE3", "MAX", "MIN2", "ONTOP3"}) {
        const QImage& b = pic.at(QString::fromLatin1(k));
        x -= b.width();
        p.drawImage(x, kFromTop, b);
        x -= kIconSpace;
    }
    QFont f(QStringLiteral("DejaVu Sans"), 9, QFont::Bold);
    p.setFont(f);
    p.setPen(QColor(s.shadow));
    p.drawText(QPoint(29, 20), QStringLiteral("diary pad"));
    p.setPen(QColor(s.title));
    p.drawText(QPoint(28, 19), QStringLiteral("diary pad"));
    const int sideH = h - kCaption - kFrame;
    for (int y = 0; y <= sideH; y += kMid) {
        p.drawImage(0, kCaption + y, pic.at(QStringLiteral("LEFTMID")));
        p.drawImage(w - kFrame, kCaption + y, pic.at(QStringLiteral("RIGHTMID")));
    }
    p.drawImage(0, kCaption, pic.at(QStringLiteral("LEFTTOP")));
    p.drawImage(w - kFrame, kCaption, pic.at(QStringLiteral("RIGHTTOP")));
    for (int bx = 0; bx <= w; bx += kMid)
        p.drawImage(bx, h - kFrame, pic.at(QStringLiteral("BOTTOM")));
    p.drawImage(0, h - kFrame, pic.at(QStringLiteral("LEFTBOT")));
    p.drawImage(w - pic.at(QStringLiteral("RIGHTBOT")).width(), h - kFrame,
                pic.at(QStringLiteral("RIGHTBOT")));
    // The window shape's cut corners.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygon({QPoint(0, 0), QPoint(3, 0), QPoint(0, 3)}));
    p.drawPolygon(QPolygon({QPoint(w - 3, 0), QPoint(w, 0), QPoint(w, 4)}));
    return img;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2 || (args[0] != u"blue" && args[0] != u"silver")) {
        std::fprintf(stderr, "usage: dayvault-skingen blue|silver OUTDIR [PREVIEW.png]\n");
        return 2;
    }
    const Scheme s = args[0] == u"blue" ? blue() : silver();
    QDir dir(args[1]);
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(dir.path()));
        return 1;
    }

    std::map<QString, QImage> pic;
    auto put = [&](const char* key, QImage img) { pic[QString::fromLatin1(key)] = img; };
    put("TOPLEFT", captionLeft(s));
    put("TOPMID", captionStrip(s, kMid));
    put("TOPRIGHT", captionRight(s));
    put("LEFTTOP", sideTop(s, true));
    put("LEFTMID", framePiece(s, kFrame, kMid, [](int x, int) { return x; }));
    put("RIGHTTOP", sideTop(s, false));
    put("RIGHTMID", framePiece(s, kFrame, kMid, [](int x, int) { return kFrame - 1 - x; }));
    put("BOTTOM", framePiece(s, kMid, kFrame, [](int, int y) { return kFrame - 1 - y; }));
    put("LEFTBOT", framePiece(s, 2 * kFrame, kFrame,
                              [](int x, int y) { return std::min(x, kFrame - 1 - y); }));
    put("RIGHTBOT", framePiece(s, 2 * kFrame, kFrame, [](int x, int y) {
            return std::min(2 * kFrame - 1 - x, kFrame - 1 - y);
        }));
    const struct {
        const char* normal;
        const char* down;
        const char* hover;
        Glyph glyph;
    } buttons[] = {
        {"CLOSE", "CLOSE2", "CLOSE3", Glyph::Close},
        {"MAX", "MAX2", "MAX3", Glyph::Max},
        {"MIN", "MIN2", "MIN3", Glyph::Min},
        // The restore button numbers its states the other way round: 2 hover, 3 pressed.
        {"RES1", "RES3", "RES2", Glyph::Restore},
    };
    for (const auto& b : buttons) {
        put(b.normal, button(s, b.glyph, State::Normal));
        put(b.down, button(s, b.glyph, State::Down));
        put(b.hover, button(s, b.glyph, State::Hover));
    }
    put("ONTOP1", button(s, Glyph::PinOff, State::Normal));
    put("ONTOP3", button(s, Glyph::PinOn, State::Normal));

    for (const auto& [key, img] : pic)
        if (!save(img, dir, qPrintable(key)))
            return 1;

    QFile ini(dir.filePath(QStringLiteral("skin.ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(ini.fileName()));
        return 1;
    }
    QTextStream out(&ini);
    out << "; made by dayvault-skingen " << args[0] << "\n"
        << "; integers in pixels; colours as #RRGGBB or system:N\n"
        << "XOFFSET = 12\n"
        << "XOFFSET2 = 8\n"
        << "YOFFSET = 6\n"
        << "FROMRIGHT = " << kFromRight << "\n"
        << "FROMTOP = " << kFromTop << "\n"
        << "ICONSPACE = " << kIconSpace << "\n"
        << "FORECOLOR = " << s.shadow << "\n"
        << "BackColor = " << s.title << "\n"
        << "PARENTBACKCOLOR = " << s.parentBack << "\n";
    out.flush();

    if (args.size() > 2 && !preview(pic, s, 420, 180).scaled(840, 360).save(args[2]))
        return 1;
    return 0;
}
