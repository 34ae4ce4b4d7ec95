#include "support/Support.h"

#include "support/PgServer.h"

#include "accounts/Password.h"
#include "accounts/Session.h"
#include "accounts/frmLogin.h"
#include "app/FormRegistry.h"
#include "base/Module1.h"
#include "base/Twips.h"
#include "caption/JSCAPTION.h"
#include "data/ado.h"
#include "data/myClass.h"
#include "data/settings.h"
#include "data/statements.h"
#include "shell/Navigation.h"
#include "skin/JSBORDER.h"
#include "skin/SkinCache.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QInputMethodEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QWidget>
#include <sqlite3.h>

QStringList fake::Dialogs::texts() const {
    QStringList out;
    for (const fake::Box& b : boxes)
        out << b.text;
    return out;
}

void TempApp::settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

namespace {
void resetRun() {
    app::setClock({});
    ado::setSystemSettingsFile(QString()); // the machine's own settings stay out
    app::setOnAllUnloaded({});
    app::Twips::setFactors(0, 0);
    Module1::reset();
    frmLogin::resetRun();
    skin::SkinCache::clear();
    ado::setBusyTimeout(200);
    accounts::setCheapHashesForTests(true);
    accounts::failHashingForTests(false);
}
} // namespace

namespace {
QString ownerConnection() {
    return ado::connectionString(ado::readSettings(app::appFolder()), true);
}
} // namespace

void TempApp::SetUp() {
    ASSERT_TRUE(dir.isValid());
    resetRun();
    QDir(dir.path()).mkpath(u"data"_s);
    recovery = ado::createDatabase(dbPath());
    passwords.clear();
    myClass::useKeys(&keys);
    app::setAppFolder(dir.path());
    if (pgtest::enabled()) {
        // The same test, its diary on the server: the file above stays unused.
        ASSERT_TRUE(pgtest::server().up) << "no PostgreSQL 15 server could be started";
        pgtest::freshDatabase();
        writeFile(dir.filePath(u"dayvault.conf"_s), pgtest::settings());
        ado::Connection owner;
        owner.ConnectionString = ownerConnection();
        owner.requirePinnedKey = false;
        owner.Open();
        recovery = ado::initServer(owner);
    }
    dialogs = &fake::install<fake::Dialogs>();
    desktop = &fake::install<fake::Desktop>();
    endedCount = 0;
    app::setOnAllUnloaded([this] { ++endedCount; });
}

void TempApp::TearDown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->testAttribute(Qt::WA_DeleteOnClose))
            w->close();
    settle();
    resetRun();
    keys.clear();
    myClass::useKeys(nullptr);
    app::setAppFolder(QString());
}

// Every statement in turn; the first column of the first row of the last that gave one.
QVariant TempApp::scalar(const QString& sql) {
    if (pgtest::enabled()) {
        ado::Connection c;
        c.ConnectionString = ownerConnection();
        c.requirePinnedKey = false;
        c.Open();
        QVariant last;
        for (const QString& one : sql.split(u';', Qt::SkipEmptyParts)) {
            if (one.trimmed().isEmpty())
                continue;
            const auto rows = c.rows({one, {}});
            if (!rows.empty() && !rows[0].empty())
                last = rows[0][0];
        }
        return last;
    }
    const QByteArray q = sql.toUtf8();
    const char *next = q.constData(), *end = next + q.size();
    QVariant out;
    sqlite3* db = nullptr;
    int rc = sqlite3_open(dbPath().toUtf8().constData(), &db);
    sqlite3_busy_timeout(db, 5000);
    while (rc == SQLITE_OK && next < end) {
        sqlite3_stmt* st = nullptr;
        rc = sqlite3_prepare_v2(db, next, int(end - next), &st, &next);
        if (rc == SQLITE_OK && st && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            if (sqlite3_column_type(st, 0) == SQLITE_INTEGER)
                out = QVariant::fromValue<qint64>(sqlite3_column_int64(st, 0));
            else if (sqlite3_column_type(st, 0) != SQLITE_NULL)
                out = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                                        sqlite3_column_bytes(st, 0));
        }
        rc = rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
        sqlite3_finalize(st);
    }
    EXPECT_EQ(rc, SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    return out;
}

namespace {
// The file at `path`; on a server its owner's connection, or the guest's for a login.
void openOn(ado::Connection& c, const QString& path, vault::KeyRing* ring = nullptr,
            bool asOwner = true) {
    c.ConnectionString = pgtest::enabled()
                             ? ado::connectionString(ado::readSettings(app::appFolder()), asOwner)
                             : u"data source="_s + path;
    c.keys = ring;
    c.Open();
}
} // namespace

void TempApp::openAsAdministrator(ado::Connection& c, vault::KeyRing& ring) {
    openOn(c, dbPath(), &ring);
    ring.bindTo(c.adminPublic());
    if (c.sealed()) {
        ASSERT_TRUE(ring.keepAdminKey(*vault::adminKeyFromRecovery(c.keyStore(), recovery)));
    }
}

void TempApp::addUser(const QString& name, const QString& password, int popedom) {
    const QString n = accounts::normalise(name), pw = accounts::normalise(password);
    const QString folded = QString::fromUtf8(vault::fold(n));
    ado::Connection c;
    vault::KeyRing ring;
    openAsAdministrator(c, ring);
    if (passwords.count(folded)) // added again: with the new password, as a fresh account
        for (const char* table : {"JR_user", "JR_key", "JR_admin"})
            c.Execute({u"delete from %1 where B_user=?"_s.arg(QLatin1String(table)), {{{}, n}}});
    if (passwords.count(folded) && c.server())
        c.Execute(u"drop role "_s + ado::roleOf(n));
    accounts::addUser(c, n, pw);
    passwords[folded] = password;
    setPopedom(c, ring, n, popedom);
}

// A permission of 1 comes with the administrator key, as `grant` gives it.
void TempApp::setPopedom(ado::Connection& c, vault::KeyRing& ring, const QString& name,
                         int popedom) {
    const auto now = c.rows({u"select popedom from JR_user where B_user=?"_s, {{{}, name}}});
    if (now.empty() || now[0][0].toInt() != popedom) // a read-only file stays as it is
        c.Execute(sql::setPopedom(name, popedom));
    c.setServerAdmin(name, popedom == 1);
    if (popedom != 1 || !c.sealed() || c.keyStore().adminKey(name))
        return;
    const QString pw = accounts::normalise(passwords[QString::fromUtf8(vault::fold(name))]);
    ado::Recordset rs;
    rs.Open(sql::userQuery(name), c);
    const auto key =
        accounts::dataKeyOf(c, name, accounts::unlock(pw, rs.Fields(u"B_password"_s).toString()));
    ASSERT_TRUE(key);
    vault::grantAdmin(c.keyStore(), name, key->key, ring.adminKey());
}

QByteArray TempApp::fileBytes() const {
    if (pgtest::enabled()) { // what a dump of the server holds
        QByteArray dump;
        pgtest::run(u"pg_dump"_s,
                    {u"-h"_s, pgtest::server().host, u"-p"_s, pgtest::server().port, u"-U"_s,
                     u"dvsuper"_s, u"dayvault"_s},
                    &dump);
        return dump;
    }
    QByteArray all;
    for (const QString& suffix : {QString(), u"-wal"_s}) {
        QFile f(dbPath() + suffix);
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}

void TempApp::writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

namespace testskin {
namespace {
QByteArray encode(QSize size, QColor colour, const char* format) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format);
    return out;
}
} // namespace

QByteArray png(QSize size, QColor colour) {
    return encode(size, colour, "PNG");
}
QByteArray bmp(QSize size, QColor colour) {
    return encode(size, colour, "BMP");
}

skin::PropertyBag completeBag() {
    skin::PropertyBag bag;
    int n = 0;
    for (const auto& k : skin::skinKeys()) {
        const QString key = QLatin1String(k.name);
        if (k.kind == skin::Kind::Picture)
            bag.writePicture(key, png(QSize(4 + n, 6 + n), QColor(10 * n, 100, 200)));
        else if (k.kind == skin::Kind::Integer)
            bag.writeInteger(key, qint16(n));
        else
            bag.writeColour(key, 0x00102030u + quint32(n));
        ++n;
    }
    return bag;
}

void borders(skin::PropertyBag& bag, int width, QColor colour) {
    for (const char* key : {"LEFTTOP", "LEFTMID", "RIGHTTOP", "RIGHTMID"})
        bag.writePicture(QLatin1String(key), png(QSize(width, 12), colour));
    for (const char* key : {"LEFTBOT", "RIGHTBOT", "BOTTOM"})
        bag.writePicture(QLatin1String(key), png(QSize(12, width), colour));
}

QString write(const QString& path, const skin::PropertyBag& bag) {
    EXPECT_TRUE(skin::WriteSkinFile(path, bag));
    return path;
}
} // namespace testskin

namespace capskin {
const QList<Piece>& pieces() {
    static const QList<Piece> list = [] {
        const QList<std::pair<const char*, QSize>> sizes = {
            {"TOPLEFT", {10, 30}}, {"TOPMID", {7, 30}},  {"TOPRIGHT", {12, 30}},
            {"CLOSE", {16, 14}},   {"CLOSE2", {16, 14}}, {"CLOSE3", {16, 14}},
            {"MAX", {15, 14}},     {"MAX2", {15, 14}},   {"MAX3", {15, 14}},
            {"RES1", {17, 14}},    {"RES2", {17, 14}},   {"RES3", {17, 14}},
            {"MIN", {13, 14}},     {"MIN2", {13, 14}},   {"MIN3", {13, 14}},
            {"ONTOP1", {11, 14}},  {"ONTOP3", {11, 14}},
        };
        QList<Piece> out;
        int i = 0;
        for (const auto& [key, size] : sizes) {
            out.append({key, size, QColor(20 + 9 * i, 230 - 7 * i, (60 + 31 * i) % 256)});
            ++i;
        }
        return out;
    }();
    return list;
}

QString keyOf(const QColor& c) {
    for (const Piece& p : pieces())
        if (p.colour.rgb() == c.rgb())
            return QLatin1String(p.key);
    return {};
}

skin::PropertyBag bag(skin::PropertyBag b) {
    for (const Piece& p : pieces())
        b.writePicture(QLatin1String(p.key), testskin::png(p.size, p.colour));
    const std::pair<const char*, qint16> metrics[] = {
        {"XOFFSET", kXOffset},     {"XOFFSET2", kXOffset2}, {"YOFFSET", kYOffset},
        {"FROMRIGHT", kFromRight}, {"FROMTOP", kFromTop},   {"ICONSPACE", kIconSpace}};
    for (const auto& [key, value] : metrics)
        b.writeInteger(QLatin1String(key), value);
    b.writeColour(u"FORECOLOR"_s, kForeColor);
    b.writeColour(u"BackColor"_s, kBackColor);
    b.writeColour(u"PARENTBACKCOLOR"_s, kParentBack);
    return b;
}
} // namespace capskin

void CaptionFixture::makeWindow(const QVariantMap& settings, bool show) {
    window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    window->setWindowTitle(u"写日记"_s);
    window->setGeometry(50, 40, 400, 300);
    bar = new JSCAPTION(window.get());
    bar->setObjectName(u"JSCAPTION1"_s);
    bar->ReadProperties(settings);
    bar->setPath(skinPath);
    if (show) {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
}

QString CaptionFixture::at(int x, int y) const {
    const QImage img = bar->surface().toImage();
    if (!img.rect().contains(x, y))
        return u"<outside>"_s;
    return capskin::keyOf(img.pixelColor(x, y));
}

void CaptionFixture::moveTo(QPoint p) {
    // Qt drops a move to where the pointer already is; step through the row below the band.
    QTest::mouseMove(bar, QPoint(p.x(), bar->height() - 1));
    QTest::mouseMove(bar, p);
}

void DiaryApp::SetUp() {
    TempApp::SetUp();
    app::registerForms();
    setNow(QDateTime(QDate(2024, 3, 7), QTime(10, 30)));
    logIn(startsAs);
}

void DiaryApp::logIn(const QString& name, qint16 popedom) {
    keys.clear();
    Module1::UserName = name;
    Module1::UserPopedom = popedom;
    if (name.isEmpty())
        return;
    const QString n = accounts::normalise(name);
    if (!passwords.count(QString::fromUtf8(vault::fold(n))))
        addUser(name, name + u"-pw"_s, popedom);
    {
        ado::Connection c;
        vault::KeyRing ring;
        openAsAdministrator(c, ring);
        setPopedom(c, ring, n, popedom);
    }
    ado::Connection c;
    openOn(c, dbPath(), &keys, false);
    ado::Recordset rs;
    rs.Open(sql::userQuery(n), c);
    const QString stored = rs.Fields(u"B_password"_s).toString();
    const QString pw = accounts::normalise(passwords[QString::fromUtf8(vault::fold(n))]);
    const accounts::Unlocked check = accounts::checkLogin(c, n, pw, stored, true);
    EXPECT_EQ(accounts::startSession(c, keys, n, pw, stored, check, popedom == 1), QString());
}

int DiaryApp::addEntry(const QString& title, const QString& writer, const QString& time,
                       const QString& content, int id) {
    if (!passwords.count(QString::fromUtf8(vault::fold(accounts::normalise(writer)))))
        addUser(writer, writer + u"-pw"_s);
    ado::Connection c;
    vault::KeyRing ring;
    openAsAdministrator(c, ring);
    sql::Statement s{
        u"insert into JR_content(%1B_title,B_weather,B_content,B_writer,B_time) "
        "values(%2?,?,?,?,?)"_s.arg(id ? u"ID,"_s : QString(), id ? u"?,"_s : QString()),
        {{u"B_title"_s, title},
         {u"B_weather"_s, u"晴"_s},
         {u"B_content"_s, content},
         {u"B_writer"_s, writer},
         {u"B_time"_s, time}}};
    if (id)
        s.params.prepend({u"ID"_s, id});
    s.entry = sql::Statement::Entry::Insert;
    c.Execute(s);
    return count(u"select max(ID) from JR_content"_s);
}

void DiaryApp::readEntries(int id, const std::function<void(ado::Recordset&)>& each) {
    ado::Connection c;
    vault::KeyRing ring;
    openAsAdministrator(c, ring);
    sql::Statement s =
        id ? sql::Statement{u"select ID from JR_content where ID=?"_s, {{u"ID"_s, id}}}
           : sql::Statement{u"select ID from JR_content"_s};
    s.keysOf = u"JR_content"_s;
    ado::Recordset rs;
    for (rs.Open(s, c); !rs.eof(); rs.MoveNext())
        each(rs);
}

QString DiaryApp::column(const char* name, int id) {
    QString out;
    readEntries(id, [&](ado::Recordset& rs) { out = rs.Fields(QLatin1String(name)).toString(); });
    return out;
}

std::multimap<QString, QString> DiaryApp::entries() {
    std::multimap<QString, QString> out;
    readEntries(0, [&](ado::Recordset& rs) {
        out.emplace(rs.Fields(u"B_title"_s).toString(), rs.Fields(u"B_content"_s).toString());
    });
    return out;
}

void DiaryApp::click(QWidget* w) {
    QPoint at = w->rect().center();
    if (auto* r = qobject_cast<QRadioButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(r);
        at = r->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, r).center();
    }
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

void DiaryApp::type(QWidget* w, const QString& text) {
    for (qsizetype i = 0, j = 0; i < text.size(); i = j) {
        const bool ascii = text[i].unicode() < 0x80;
        while (j < text.size() && (text[j].unicode() < 0x80) == ascii)
            ++j;
        if (ascii) {
            QTest::keyClicks(w, text.mid(i, j - i));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(text.mid(i, j - i));
            QCoreApplication::sendEvent(w, &commit);
        }
    }
}

void DiaryApp::retype(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    type(box, text);
}

void DiaryApp::paste(QWidget* box, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
}

frmWrite* DiaryApp::useLogin(const QString& name, const QString& password,
                             QPushButton* frmLogin::*button) {
    auto* login = qobject_cast<frmLogin*>(app::loaded(app::FormId::Login));
    if (!login)
        app::show(login = qobject_cast<frmLogin*>(app::load(app::FormId::Login)));
    for (app::FormId id : {app::FormId::Look, app::FormId::Write})
        if (QWidget* w = app::loaded(id))
            app::unload(w);
    settle();
    paste(login->txtUserName, name);
    paste(login->txtPassword, password);
    click(login->*button);
    settle();
    return qobject_cast<frmWrite*>(app::loaded(app::FormId::Write));
}

void DiaryApp::search(frmLook* look, int kind, const QString& text) {
    if (kind == 0)
        look->txtQuerytime->setText(text);
    if (kind == 3)
        look->txtQuerytitle->setText(text);
    click(look->optQueryType[kind]);
    click(look->queryComm);
}

int DiaryApp::found(frmLook* look) {
    const QString t = look->Label6->text();
    if (t == u"没有找到记录数"_s)
        return 0;
    return t.startsWith(u"共有记录数："_s) ? t.mid(6).toInt() : -1;
}

QStringList DiaryApp::rows(frmLook* look) {
    QStringList out;
    for (int i = 0, n = found(look); i < n; ++i) {
        if (i > 0)
            click(look->commNext);
        out << look->txt_title->text() + u'/' + look->txt_writer->text();
    }
    out.sort();
    return out;
}

void LoginApp::SetUp() {
    startsAs.clear();
    DiaryApp::SetUp();
    open();
}

void LoginApp::open() {
    login = qobject_cast<frmLogin*>(app::load(app::FormId::Login));
    ASSERT_NE(login, nullptr);
    app::show(login);
    QApplication::setActiveWindow(login);
    ASSERT_TRUE(QTest::qWaitForWindowActive(login));
}

void LoginApp::fill(const char* box, const QString& text) {
    QLineEdit* e = edit(box);
    e->clear();
    e->setFocus();
    QTest::keyClicks(e, text);
}

void SkinnedApp::SetUp() {
    DiaryApp::SetUp();
    app::Twips::setFactors(15, 15);
    defaultSkin = writeSkin(u"16.jss"_s, kDefault);
    otherSkin = writeSkin(u"other.jss"_s, kOther);
}

QString SkinnedApp::writeSkin(const QString& name, const SkinLook& look) {
    skin::PropertyBag bag = capskin::bag(testskin::completeBag());
    for (const char* key : {"TOPLEFT", "TOPMID", "TOPRIGHT"})
        bag.writePicture(QLatin1String(key), testskin::png(QSize(10, look.caption), look.colour));
    testskin::borders(bag, look.border, look.colour);
    return testskin::write(dir.filePath(name), bag);
}

std::vector<diary::SkinnedForm*> SkinnedApp::openBoth() {
    std::vector<diary::SkinnedForm*> forms{openWrite(), openLook()};
    for (QWidget* w : forms)
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    return forms;
}

QString SkinnedApp::skinOf(diary::SkinnedForm* form) const {
    const QString path = form->JSCAPTION1->Path();
    for (const JSBORDER* b : {form->JSBORDER1, form->JSBORDER2, form->JSBORDER3})
        if (b->Path() != path)
            return u"mixed"_s;
    // What is drawn must agree with the paths.
    const SkinLook& look = path == defaultSkin ? kDefault : kOther;
    const QImage left = form->JSBORDER1->surface().toImage();
    if (form->JSCAPTION1->height() != look.caption || form->JSBORDER1->width() != look.border ||
        left.isNull() || left.pixelColor(0, 0) != look.colour)
        return u"mixed"_s;
    return path == defaultSkin ? u"16"_s : path == otherSkin ? u"other"_s : u"mixed"_s;
}
