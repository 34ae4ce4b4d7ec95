// The diary through its windows on either engine, from one table: the embedded file named
// by dayvault.conf, and a PostgreSQL server of the test's own. Then what only a server
// brings: its going away and coming back, a certificate that does not verify, a migration.
#include "accounts/Password.h"
#include "data/ado.h"
#include "data/settings.h"
#include "support/PgServer.h"
#include "support/Support.h"
#include "vault/Cipher.h"
#include "vault/KeyStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <atomic>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using pgtest::psql;
using pgtest::run;
using pgtest::script;

enum class Engine { File, Server };

class Engines : public LoginApp, public ::testing::WithParamInterface<Engine> {
protected:
    void SetUp() override {
        LoginApp::SetUp();
        if (onServer() && !pgtest::server().up)
            GTEST_SKIP() << "no PostgreSQL 15 server could be started";
        if (onServer())
            pgtest::freshDatabase();
        useEngine(GetParam());
        if (onServer()) {
            ado::Connection owner;
            owner.ConnectionString = ado::connectionString(settings(), true);
            owner.requirePinnedKey = false;
            owner.Open();
            recovery = ado::initServer(owner);
        }
        writeFile(dir.filePath(u"rk"_s), recovery);
    }
    bool onServer() const { return GetParam() == Engine::Server; }
    QString conf() const { return dir.filePath(u"dayvault.conf"_s); }
    ado::Settings settings() const { return ado::readSettingsFile(conf()); }

    void useEngine(Engine e) {
        writeFile(conf(), e == Engine::File ? QByteArray("[database]\nengine=sqlite\n")
                                            : pgtest::settings());
    }
    // The admin tool on this engine's database.
    int admin(const QStringList& args, const QByteArray& input = {}, QByteArray* out = nullptr) {
        QStringList a = args;
        a.insert(1, onServer() ? conf() : dbPath());
        return run(QStringLiteral(DAYVAULT_ADMIN), a, out, input);
    }
    // The login window, the diary windows closed ("重新登录").
    void backToLogin() {
        for (app::FormId id : {app::FormId::Look, app::FormId::Write})
            if (QWidget* w = app::loaded(id))
                app::unload(w);
        login = qobject_cast<frmLogin*>(app::loaded(app::FormId::Login));
        if (!login)
            app::show(login = qobject_cast<frmLogin*>(app::load(app::FormId::Login)));
        settle();
    }
    void registerUser(const QString& name, const QString& password) {
        backToLogin();
        paste(edit("txtUserName"), name);
        paste(edit("txtPassword"), password);
        press("RegComm");
    }
    // Logs in through the window and saves one entry; the browser is then open.
    void writeAs(const QString& name, const QString& password, const QString& title) {
        frmWrite* w = useLogin(name, password);
        ASSERT_NE(w, nullptr) << dialogs->texts().join(u'|').toStdString();
        w->B_Title_text->setText(title);
        w->B_Content_text->setPlainText(title + u"：今天下雨了"_s);
        click(w->saveComm);
        settle();
    }
    // STOP: every process of the server stopped, not ended: it answers nothing, closes
    // nothing. CONT: going on.
    static void stall(const char* sig) {
        ASSERT_EQ(run(u"bash"_s, {u"-c"_s, u"p=$(head -1 %1/data/postmaster.pid); "
                                           "kill -%2 $p $(pgrep -P $p)"_s.arg(pgtest::server().dir,
                                                                              QLatin1String(sig))}),
                  0);
    }
    QStringList everything(const QString& name, const QString& password) {
        EXPECT_NE(useLogin(name, password), nullptr) << dialogs->texts().join(u'|').toStdString();
        frmLook* l = openLook();
        search(l, 2);
        return rows(l);
    }
};

INSTANTIATE_TEST_SUITE_P(Both, Engines, ::testing::Values(Engine::File, Engine::Server),
                         [](const ::testing::TestParamInfo<Engine>& p) {
                             return p.param == Engine::File ? "File" : "Server";
                         });

// What only a server brings.
class ServerOnly : public Engines {};
INSTANTIATE_TEST_SUITE_P(Postgres, ServerOnly, ::testing::Values(Engine::Server));

// Registration, the three tries, saving, the three searches, changing, deleting and a new
// password: the same boxes and the same results on either engine.
TEST_P(Engines, TheDiaryBehavesTheSame) {
    registerUser(u"alice"_s, u"pw a"_s);
    registerUser(u"ALICE"_s, u"other"_s);
    EXPECT_EQ(takeTexts(),
              (QStringList{u"注册成功，请记住你的用户和密码\n\n用户：alice\n密码：pw a"_s,
                           u"此用户已经存在，请用另外一个用户名注册"_s}));
    EXPECT_EQ(useLogin(u"alice"_s, u"wrong"_s), nullptr);
    EXPECT_EQ(takeTexts(), QStringList{kFail});
    EXPECT_EQ(frmLogin::FailedLogins, 1);

    writeAs(u"Alice"_s, u"pw a"_s, u"第一篇"_s);
    EXPECT_EQ(takeTexts(), QStringList{u"添加完成！"_s});
    registerUser(u"carol"_s, u"pw c"_s); // after a login, at the same login window
    EXPECT_EQ(takeTexts(),
              QStringList{u"注册成功，请记住你的用户和密码\n\n用户：carol\n密码：pw c"_s});
    useLogin(u"alice"_s, u"pw a"_s);
    frmLook* l = openLook();
    ASSERT_NE(l, nullptr);
    const QString year = QString::number(QDate::currentDate().year());
    const std::tuple<int, QString, int> searches[] = {
        {2, QString(), 1}, {3, u"一"_s, 1}, {3, u"二"_s, 0}, {0, year, 1}, {0, u"1999"_s, 0}};
    for (const auto& [kind, text, n] : searches) {
        search(l, kind, text);
        EXPECT_EQ(found(l), n) << kind << text.toStdString();
    }
    search(l, 2);
    EXPECT_EQ(l->txt_content->toPlainText(), u"第一篇：今天下雨了"_s);
    click(l->modifyComm);
    retype(l->txt_title, u"改过的 'x'"_s);
    click(l->saveComm);
    EXPECT_TRUE(dialogs->last().text.startsWith(u"成功修改了记录号为"_s));
    search(l, 3, u"改过"_s);
    EXPECT_EQ(rows(l), QStringList{u"改过的 'x'/alice"_s});
    click(l->DelComm);
    search(l, 2);
    EXPECT_EQ(found(l), 0);

    backToLogin();
    dialogs->boxes.clear();
    fill("txtUserName", u"alice"_s);
    fill("txtPassword", u"pw a"_s);
    dialogs->inputAnswers.push_back(u"新密码"_s);
    press("modifyComm");
    EXPECT_EQ(dialogs->last().text, u"密码已经修改成功，请记住新密码：\n\r新密码"_s);
    EXPECT_EQ(useLogin(u"alice"_s, u"pw a"_s), nullptr);
    EXPECT_NE(useLogin(u"alice"_s, u"新密码"_s), nullptr);
}

// A writer reads only his own entries; the administrator the tool granted reads everyone's.
TEST_P(Engines, WritersReadTheirOwnTheAdministratorAll) {
    registerUser(u"alice"_s, u"pw a"_s);
    registerUser(u"bob"_s, u"pw b"_s);
    writeAs(u"alice"_s, u"pw a"_s, u"a1"_s);
    writeAs(u"bob"_s, u"pw b"_s, u"b1"_s);
    EXPECT_EQ(everything(u"bob"_s, u"pw b"_s), QStringList{u"b1/bob"_s});
    ASSERT_EQ(
        admin({u"grant"_s, u"alice"_s, u"--recovery-key-file"_s, dir.filePath(u"rk"_s)}, "pw a\n"),
        0);
    EXPECT_EQ(everything(u"alice"_s, u"pw a"_s), (QStringList{u"a1/alice"_s, u"b1/bob"_s}));
    EXPECT_EQ(Module1::UserPopedom, 1);
}

// The broken environments of a server: each fault gives a box naming it while the typed text
// stays, nothing is half-written, and the same windows work once it is gone.
TEST_P(ServerOnly, EachServerFaultIsToldAndWorkResumes) {
    registerUser(u"alice"_s, u"pw a"_s);
    const auto pg = [&](const char* how) {
        ASSERT_EQ(run(u"bash"_s, {script(), QLatin1String(how), pgtest::server().dir}), 0);
    };
    // Her role's password set elsewhere, her sessions ended; then what she registered with.
    QString verifier;
    const auto role = [&](bool other) {
        const QString r =
            u"dv_"_s +
            QString::fromLatin1(QCryptographicHash::hash("alice", QCryptographicHash::Md5).toHex());
        if (other)
            psql(u"create table if not exists kept as select rolpassword from pg_authid where "
                 "rolname='%1'; alter role %1 password 'elsewhere'; select "
                 "pg_terminate_backend(pid) from pg_stat_activity where usename='%1'"_s.arg(r));
        else
            psql(u"update pg_authid set rolpassword=(select rolpassword from kept) where "
                 "rolname='%1'; drop table kept"_s.arg(r));
    };
    // Another session holding every entry locked for a while.
    QProcess holder;
    const auto holdLock = [&] {
        holder.start(u"psql"_s,
                     {u"-X"_s, u"-h"_s, pgtest::server().host, u"-p"_s, pgtest::server().port,
                      u"-U"_s, u"dvsuper"_s, u"-d"_s, u"dayvault"_s, u"-c"_s,
                      u"begin; lock table jr_content; select pg_sleep(4); commit"_s});
        for (int i = 0; i < 100; ++i) {
            QByteArray n;
            run(u"psql"_s,
                {u"-XAt"_s, u"-h"_s, pgtest::server().host, u"-p"_s, pgtest::server().port, u"-U"_s,
                 u"dvsuper"_s, u"-d"_s, u"dayvault"_s, u"-c"_s,
                 u"select count(*) from pg_locks where mode='AccessExclusiveLock' and "
                 "relation='jr_content'::regclass"_s},
                &n);
            if (n.trimmed() == "1")
                return;
            QThread::msleep(50);
        }
    };
    struct Fault {
        const char* name;
        std::function<void()> apply, remove;
        QString cause;
        bool atLogin;
    };
    const std::vector<Fault> faults = {
        {"stalled", [&] { stall("STOP"); }, [&] { stall("CONT"); }, u"数据库服务器"_s, false},
        {"locked", holdLock, [&] { holder.waitForFinished(); }, u"数据库服务器正忙"_s, false},
        {"down at login", [&] { pg("pause"); }, [&] { pg("resume"); }, u"无法连接数据库服务器"_s,
         true},
        {"gone under a window", [&] { pg("pause"); }, [&] { pg("resume"); }, u"数据库服务器"_s,
         false},
        {"restarted", [&] { pg("pause"), pg("resume"); }, {}, QString(), false},
        {"password changed elsewhere", [&] { role(true); }, [&] { role(false); }, u"拒绝了登录"_s,
         false},
    };
    int saved = 0;
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        frmWrite* w = f.atLogin ? nullptr : useLogin(u"alice"_s, u"pw a"_s);
        f.apply();
        dialogs->boxes.clear();
        if (f.atLogin) {
            EXPECT_EQ(useLogin(u"alice"_s, u"pw a"_s), nullptr);
            EXPECT_EQ(login->txtUserName->text(), u"alice"_s);
        } else {
            w->B_Content_text->setPlainText(u"别丢了我"_s);
            click(w->saveComm);
            if (f.cause.isEmpty())
                ++saved;
            EXPECT_EQ(w->B_Content_text->toPlainText(), u"别丢了我"_s);
        }
        const QString shown = dialogs->texts().join(u'|');
        EXPECT_TRUE(f.cause.isEmpty() ? shown == u"添加完成！"_s : shown.contains(f.cause))
            << shown.toStdString();
        if (f.remove)
            f.remove();
        if (w && !f.cause.isEmpty()) {
            click(w->saveComm);
            EXPECT_EQ(dialogs->last().text, u"添加完成！"_s);
            ++saved;
        }
        EXPECT_EQ(everything(u"alice"_s, u"pw a"_s).size(), std::size_t(saved));
        backToLogin();
        frmLogin::resetRun();
    }
}

// A server that stops answering in the middle of a session is given up within the timeouts,
// and the next statement connects again.
TEST_P(ServerOnly, AServerThatStopsAnsweringIsGivenUp) {
    ado::Connection c;
    c.ConnectionString = ado::connectionString(settings());
    c.Open();
    stall("STOP");
    int code = 0;
    try {
        c.rows({u"select 1"_s, {}});
    } catch (const ado::Error& e) {
        code = e.code();
    }
    stall("CONT");
    EXPECT_EQ(code, ado::kServerBusy);
    EXPECT_EQ(c.rows({u"select 1"_s, {}}).size(), 1u);
}

// A backup brought back into a fresh database: every user logs in with his password and
// reads what he wrote, the administrator everyone's.
TEST_P(ServerOnly, ARestoredBackupLogsEveryoneInToTheSameEntries) {
    registerUser(u"alice"_s, u"pw a"_s);
    registerUser(u"bob"_s, u"pw b"_s);
    writeAs(u"alice"_s, u"pw a"_s, u"a1"_s);
    writeAs(u"bob"_s, u"pw b"_s, u"b1"_s);
    const QString rk = dir.filePath(u"rk"_s), dump = dir.filePath(u"dump"_s);
    ASSERT_EQ(admin({u"grant"_s, u"alice"_s, u"--recovery-key-file"_s, rk}, "pw a\n"), 0);
    const QStringList before[] = {everything(u"alice"_s, u"pw a"_s),
                                  everything(u"bob"_s, u"pw b"_s)};
    backToLogin();
    ASSERT_EQ(admin({u"backup"_s, dump}), 0);
    pgtest::freshDatabase();
    frmLogin::data().releaseRs();
    frmLogin::data().releaseOcn();
    QByteArray out;
    ASSERT_EQ(admin({u"restore"_s, dump, u"--recovery-key-file"_s, rk}, {}, &out), 0) << out.data();
    EXPECT_EQ(everything(u"alice"_s, u"pw a"_s), before[0]);
    EXPECT_EQ(before[0].size(), 2);
    EXPECT_EQ(everything(u"bob"_s, u"pw b"_s), before[1]);
    EXPECT_EQ(look()->txt_content->toPlainText(), u"b1：今天下雨了"_s);
}

// A diary an earlier version made on the server, whose writers held table rights: refused
// with a word for the administrator until `upgrade` takes the rights and adds what a save
// needs, and the setup's script run again keeps what a restore needs.
TEST_P(ServerOnly, AnEarlierServerDiaryIsBroughtUpToDate) {
    registerUser(u"alice"_s, u"pw a"_s);
    writeAs(u"alice"_s, u"pw a"_s, u"a1"_s);
    psql(u"drop table jr_ticket, jr_role, jr_signup, jr_draft; "
         "alter table jr_content drop column b_token; "
         "grant delete, insert, update on jr_content, jr_key to dayvault_users"_s,
         u"dayvault"_s);
    backToLogin();
    frmLogin::data().releaseRs();
    frmLogin::data().releaseOcn();
    dialogs->boxes.clear();
    EXPECT_EQ(useLogin(u"alice"_s, u"pw a"_s), nullptr);
    EXPECT_TRUE(dialogs->texts().join(u'|').contains(u"dayvault-admin upgrade"_s));
    QByteArray out;
    EXPECT_EQ(admin({u"upgrade"_s, u"--recovery-key-file"_s, dir.filePath(u"rk"_s)}, {}, &out), 0);
    EXPECT_TRUE(out.contains("已升级")) << out.data();
    pgtest::setupScript();
    writeAs(u"alice"_s, u"pw a"_s, u"a2"_s);
    EXPECT_EQ(everything(u"alice"_s, u"pw a"_s), (QStringList{u"a1/alice"_s, u"a2/alice"_s}));
    const pgtest::Server& pg = pgtest::server();
    ASSERT_EQ(run(u"psql"_s,
                  {u"-XAt"_s, u"-h"_s, pg.host, u"-p"_s, pg.port, u"-U"_s, u"dvsuper"_s, u"-d"_s,
                   u"dayvault"_s, u"-c"_s,
                   u"select has_table_privilege('dayvault_users', 'jr_content', 'delete'), "
                   "(select count(*) from jr_role), "
                   "has_function_privilege('dayvault_users', "
                   "'dv_put_draft(text,integer,integer,text,bytea)', 'execute')"_s},
                  &out),
              0);
    EXPECT_EQ(out.trimmed(), "f|1|t");
}

// A socket in front of the server's that passes everything, except that once armed it lets
// the next statement naming `armedBy` reach the server and drops the server's answer to it.
class Proxy {
public:
    Proxy(const QString& dir, const QString& port, const QString& target) {
        listen_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const QByteArray path = QStringLiteral("%1/.s.PGSQL.%2").arg(dir, port).toUtf8();
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.constData(), sizeof a.sun_path - 1);
        ::unlink(path.constData());
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            ::listen(listen_, 8);
        target_ = target.toUtf8();
        thread_ = std::thread([this] { loop(); });
    }
    ~Proxy() {
        stop_ = true;
        thread_.join();
        for (const auto& [c, s] : pairs_)
            ::close(c), ::close(s);
        ::close(listen_);
    }
    std::atomic<bool> armed{false};
    QByteArray armedBy;

private:
    void loop() {
        while (!stop_) {
            std::vector<pollfd> fds{{listen_, POLLIN, 0}};
            for (const auto& [c, s] : pairs_)
                fds.push_back({c, POLLIN, 0}), fds.push_back({s, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 50) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                const int c = ::accept(listen_, nullptr, nullptr);
                const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un a{};
                a.sun_family = AF_UNIX;
                std::strncpy(a.sun_path, target_.constData(), sizeof a.sun_path - 1);
                ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
                pairs_.emplace_back(c, s);
                continue;
            }
            for (std::size_t i = 0; i < pairs_.size(); ++i)
                if (!pass(i, fds[1 + 2 * i].revents, fds[2 + 2 * i].revents))
                    break; // the pairs changed: poll them again
        }
    }
    // False when the pair was closed.
    bool pass(std::size_t i, short fromClient, short fromServer) {
        const auto [c, s] = pairs_[i];
        for (const bool up : {true, false}) {
            if (!((up ? fromClient : fromServer) & (POLLIN | POLLHUP)))
                continue;
            char buf[65536];
            const ssize_t n = ::read(up ? c : s, buf, sizeof buf);
            if (n <= 0 || (!up && dropping_ == c)) {
                ::close(c), ::close(s);
                pairs_.erase(pairs_.begin() + std::ptrdiff_t(i));
                dropping_ = -1;
                return false;
            }
            if (up && armed && QByteArray(buf, int(n)).contains(armedBy))
                dropping_ = c, armed = false;
            if (::write(up ? s : c, buf, std::size_t(n)) != n)
                return true;
        }
        return true;
    }
    int listen_ = -1, dropping_ = -1;
    QByteArray target_;
    std::vector<std::pair<int, int>> pairs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A save whose answer is lost on its way back was stored: saving again finds it, says so,
// and stores nothing more.
TEST_P(ServerOnly, ASaveWhoseAnswerWasLostIsStoredOnce) {
    registerUser(u"alice"_s, u"pw a"_s);
    QTemporaryDir front(u"/tmp/dvpx-XXXXXX"_s);
    Proxy proxy(front.path(), pgtest::server().port,
                u"%1/.s.PGSQL.%2"_s.arg(pgtest::server().host, pgtest::server().port));
    writeFile(conf(),
              pgtest::settings().replace(pgtest::server().host.toUtf8(), front.path().toUtf8()));
    frmLogin::data().releaseRs();
    frmLogin::data().releaseOcn();
    frmWrite* w = useLogin(u"alice"_s, u"pw a"_s);
    ASSERT_NE(w, nullptr) << dialogs->texts().join(u'|').toStdString();
    w->B_Title_text->setText(u"一次"_s);
    w->B_Content_text->setPlainText(u"只存一次"_s);
    proxy.armedBy = "dv_add_entry";
    proxy.armed = true;
    dialogs->boxes.clear();
    click(w->saveComm);
    EXPECT_TRUE(dialogs->texts().join(u'|').contains(u"连接已断开"_s))
        << dialogs->texts().join(u'|').toStdString();
    EXPECT_EQ(w->B_Content_text->toPlainText(), u"只存一次"_s);
    click(w->saveComm);
    EXPECT_EQ(dialogs->last().text, u"添加完成！"_s);
    EXPECT_EQ(everything(u"alice"_s, u"pw a"_s), QStringList{u"一次/alice"_s});
}

// A password set elsewhere, then the server restarted: at the login window every user logs in
// with what is his now.
TEST_P(ServerOnly, AfterARestartEveryoneLogsInAgain) {
    registerUser(u"alice"_s, u"pw a"_s);
    registerUser(u"bob"_s, u"pw b"_s);
    ASSERT_NE(useLogin(u"bob"_s, u"pw b"_s), nullptr);
    ASSERT_EQ(
        admin({u"passwd"_s, u"bob"_s, u"--recovery-key-file"_s, dir.filePath(u"rk"_s)}, "new b\n"),
        0);
    for (const char* how : {"pause", "resume"})
        ASSERT_EQ(run(u"bash"_s, {script(), QLatin1String(how), pgtest::server().dir}), 0);
    backToLogin();
    EXPECT_NE(useLogin(u"bob"_s, u"new b"_s), nullptr) << dialogs->texts().join(u'|').toStdString();
    backToLogin();
    EXPECT_NE(useLogin(u"alice"_s, u"pw a"_s), nullptr)
        << dialogs->texts().join(u'|').toStdString();
}

// The administrator's tool, command by command, on either engine; the diary's user then
// logs in with what it set and reads what he wrote, also after a revoke replaced the keys.
TEST_P(Engines, TheAdminToolOnEither) {
    const QString rk = dir.filePath(u"rk"_s);
    struct Step {
        QStringList args;
        QByteArray input;
        QString says; // in what it prints
        QString logsIn;
    };
    const Step steps[] = {
        {{u"adduser"_s, u"bob"_s}, "pw b\n", u"已添加用户：bob"_s, u"pw b"_s},
        {{u"users"_s}, {}, u"bob\t0"_s, {}},
        {{u"passwd"_s, u"bob"_s, u"--recovery-key-file"_s, rk},
         "new b\n",
         u"已为 bob 设置新密码"_s,
         u"new b"_s},
        {{u"export"_s, u"bob"_s}, "new b\n", u"\"title\":\"b1\""_s, {}},
        {{u"grant"_s, u"bob"_s, u"--recovery-key-file"_s, rk}, "new b\n", u"现在是管理员"_s, {}},
        {{u"revoke"_s, u"bob"_s, u"--recovery-key-file"_s, rk}, {}, u"不再是管理员"_s, u"new b"_s},
        {{u"check"_s}, {}, u"没有发现问题"_s, u"new b"_s},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args.join(u' ').toStdString());
        QByteArray out;
        EXPECT_EQ(admin(step.args, step.input, &out), 0);
        EXPECT_TRUE(QString::fromUtf8(out).contains(step.says)) << out.toStdString();
        if (step.args[0] == u"adduser"_s)
            writeAs(u"bob"_s, u"pw b"_s, u"b1"_s);
        if (!step.logsIn.isEmpty()) {
            EXPECT_EQ(everything(u"bob"_s, step.logsIn), QStringList{u"b1/bob"_s});
            EXPECT_EQ(look()->txt_content->toPlainText(), u"b1：今天下雨了"_s);
        }
        backToLogin();
    }
}

// What someone who can write the store's rows, or hold them locked, does around a login: no
// login goes on with a key left as it was, and no key he knows becomes the user's.
TEST_P(Engines, SessionFaultsLeaveNoKeyHeKnows) {
    const QString rk = dir.filePath(u"rk"_s), damaged = vault::damagedText();
    // On a server, as its superuser; nothing on the file.
    const auto superuser = [&](const QString& sql) {
        QByteArray out;
        if (onServer())
            run(u"psql"_s,
                {u"-XAt"_s, u"-h"_s, pgtest::server().host, u"-p"_s, pgtest::server().port, u"-U"_s,
                 u"dvsuper"_s, u"-d"_s, u"dayvault"_s, u"-c"_s, sql},
                &out);
        return QString::fromUtf8(out.trimmed());
    };
    struct Row {
        const char* user;
        bool fileOnly;
        std::function<void(const QString&, ado::Connection&)> run;
    };
    const Row rows[] = {
        {"busy", false,
         [&](const QString& u, ado::Connection& w) { // after a revoke, while the keys are locked
             ASSERT_EQ(admin({u"revoke"_s, u, u"--recovery-key-file"_s, rk}), 0);
             w.BeginTrans();
             if (onServer())
                 w.Execute(u"lock table JR_key in exclusive mode"_s);
             EXPECT_EQ(useLogin(u, u"pw"_s), nullptr);
             EXPECT_TRUE(dialogs->texts().join(u'|').startsWith(u"登录时无法更新你的密钥"_s))
                 << dialogs->texts().join(u'|').toStdString();
             w.RollbackTrans();
             EXPECT_EQ(everything(u, u"pw"_s), QStringList{u"a1/"_s + u});
         }},
        {"older", true,
         [&](const QString& u, ado::Connection&) { // a plain password beside her key row
             exec(u"update JR_user set B_password='hacked' where B_user='%1'"_s.arg(u));
             EXPECT_EQ(useLogin(u, u"hacked"_s), nullptr);
             EXPECT_TRUE(dialogs->texts().join(u'|').contains(u"密码记录不是本程序写的"_s));
             ASSERT_EQ(admin({u"passwd"_s, u, u"--recovery-key-file"_s, rk}, "new\n"), 0);
             EXPECT_EQ(everything(u, u"new"_s), QStringList{u"a1/"_s + u});
         }},
        {"hidden", false,
         [&](const QString& u, ado::Connection& w) { // an escrow of his, her rows out of sight
             const vault::Secret his = vault::Secret::random(vault::kKeyBytes);
             w.keyStore().putEscrow(
                 u, vault::escrowOf(his, vault::fold(u), w.keyStore().setting(u"public"_s)));
             const auto rename = [&](const QString& from, const QString& to) {
                 w.Execute({u"update JR_content set B_writer=? where B_writer=?"_s,
                            {{{}, to}, {{}, from}}});
             };
             rename(u, u + u"~"_s);
             ASSERT_EQ(admin({u"passwd"_s, u, u"--recovery-key-file"_s, rk}, "new\n"), 0);
             // Her key, as her new password opens it, is not his.
             const QString stored =
                 w.rows({u"select B_password from JR_user where B_user=?"_s, {{{}, u}}})[0][0]
                     .toString();
             const auto key =
                 vault::unwrapUserKey(accounts::unlock(u"new"_s, stored).wrap,
                                      w.keyStore().userKey(u)->wrapped, vault::fold(u));
             EXPECT_TRUE(key && !(key->key == his));
             rename(u + u"~"_s, u);
             EXPECT_EQ(everything(u, u"new"_s), QStringList{damaged + u"/"_s + u});
         }},
        {"changed", false,
         [&](const QString& u, ado::Connection& w) { // the old record and key row written back
             const auto old = w.rows({u"select B_password,wrapped,escrow from JR_user join JR_key "
                                      "on JR_key.B_user=JR_user.B_user where JR_user.B_user=?"_s,
                                      {{{}, u}}})[0];
             const QString role = ado::roleOf(u),
                           verifier = superuser(
                               u"select rolpassword from pg_authid where rolname='%1'"_s.arg(role));
             fill("txtUserName", u);
             fill("txtPassword", u"pw"_s);
             dialogs->inputAnswers.push_back(u"pw 2"_s);
             press("modifyComm");
             writeAs(u, u"pw 2"_s, u"a2"_s);
             w.Execute(
                 {u"update JR_user set B_password=? where B_user=?"_s, {{{}, old[0]}, {{}, u}}});
             w.Execute({u"update JR_key set wrapped=?,escrow=? where B_user=?"_s,
                        {{{}, old[1]}, {{}, old[2]}, {{}, u}}});
             superuser(
                 u"update pg_authid set rolpassword='%1' where rolname='%2'"_s.arg(verifier, role));
             EXPECT_EQ(everything(u, u"pw"_s), QStringList(2, damaged + u"/"_s + u));
         }},
    };
    for (const Row& row : rows) {
        if (row.fileOnly && onServer())
            continue;
        const QString u = QString::fromLatin1(row.user);
        SCOPED_TRACE(row.user);
        registerUser(u, u"pw"_s);
        writeAs(u, u"pw"_s, u"a1"_s);
        backToLogin();
        dialogs->boxes.clear();
        ado::Connection w; // the store as he writes it: the file, or the schema's owner
        w.ConnectionString =
            onServer() ? ado::connectionString(settings(), true) : u"data source="_s + dbPath();
        w.requirePinnedKey = false;
        w.Open();
        row.run(u, w);
        backToLogin();
    }
}

// What the engine keeps, read the way a thief would (the file, a dump of the server): no
// entry text and no password in plain. An object the program did not make is refused.
TEST_P(Engines, TheStoredFormHoldsNoWordsAndNothingForeign) {
    registerUser(u"alice"_s, u"秘密口令9"_s);
    writeAs(u"alice"_s, u"秘密口令9"_s, u"私房话"_s);
    QByteArray stored = fileBytes();
    if (onServer()) {
        const QString dump = dir.filePath(u"dump"_s);
        ASSERT_EQ(admin({u"backup"_s, dump}), 0);
        ASSERT_EQ(run(u"pg_restore"_s, {u"-f"_s, u"-"_s, dump}, &stored), 0);
        EXPECT_TRUE(stored.contains("COPY public.jr_content"));
    }
    for (const QString& word : {u"私房话"_s, u"今天下雨了"_s, u"秘密口令9"_s})
        EXPECT_FALSE(stored.contains(word.toUtf8())) << word.toStdString();

    if (onServer())
        psql(u"create function zz() returns trigger language plpgsql as $$ begin return new; "
             "end $$; create trigger zz before insert on jr_content for each row execute "
             "function zz()"_s,
             u"dayvault"_s);
    else
        exec(u"create table zz(x)"_s);
    backToLogin();
    frmLogin::data().releaseRs(); // as at the next start of the program
    frmLogin::data().releaseOcn();
    dialogs->boxes.clear();
    EXPECT_EQ(useLogin(u"alice"_s, u"秘密口令9"_s), nullptr);
    EXPECT_TRUE(dialogs->texts().join(u'|').contains(u"数据库中有不明的对象：zz"_s))
        << dialogs->texts().join(u'|').toStdString();
}

// A text the server cannot hold is refused whole, never cut at its NUL: "2026\0x" is no
// search for 2026.
TEST_P(ServerOnly, ATextWithANulIsRefusedNotCut) {
    registerUser(u"alice"_s, u"pw a"_s);
    writeAs(u"alice"_s, u"pw a"_s, u"a1"_s);
    frmLook* l = openLook();
    ASSERT_NE(l, nullptr);
    dialogs->boxes.clear();
    search(l, 0, QString::number(QDate::currentDate().year()) + QChar(0) + u"x"_s);
    EXPECT_TRUE(dialogs->texts().join(u'|').contains(u"空字符"_s))
        << dialogs->texts().join(u'|').toStdString();
    EXPECT_EQ(found(l), 0);
}

// Over TCP only a server whose certificate verifies gets as far as the login, whatever the
// settings ask for.
TEST_P(ServerOnly, OnlyAVerifiedServerIsSpokenTo) {
    const std::pair<QString, int> cases[] = {
        {u"sslrootcert=%1"_s.arg(pgtest::server().ca), 0},
        {u"sslrootcert=%1"_s.arg(pgtest::server().otherCa), ado::kServerTls},
        {u"sslmode=disable sslrootcert=%1"_s.arg(pgtest::server().otherCa), ado::kServerTls},
        {u"host=127.0.0.1 sslrootcert=%1"_s.arg(pgtest::server().ca),
         ado::kServerTls}}; // name mismatch
    for (const auto& [extra, code] : cases) {
        ado::Connection c;
        c.ConnectionString = u"provider=postgresql;pins=%1;conninfo=host=localhost port=%2 "
                             "dbname=dayvault %3"_s.arg(dir.path(), pgtest::server().port, extra);
        int got = 0;
        try {
            c.Open();
        } catch (const ado::Error& e) {
            got = e.code();
        }
        EXPECT_EQ(got, code) << extra.toStdString();
    }
    // A client without its copy of the pinned key is told where it comes from.
    QDir(dir.path()).mkdir(u"bare"_s);
    ado::Connection c;
    c.ConnectionString = u"provider=postgresql;pins=%1;conninfo=%2"_s.arg(
        dir.filePath(u"bare"_s), ado::readSettingsFile(conf()).connection);
    try {
        c.Open();
        ADD_FAILURE() << "opened without a pinned key";
    } catch (const ado::Error& e) {
        EXPECT_TRUE(e.code() == ado::kKeyMismatch && e.message().contains(u"从服务器复制"_s));
    }
}

// A diary kept in the file moves to the server: the same password reads the same entries.
TEST_P(ServerOnly, AMigratedDiaryOpensWithTheSamePassword) {
    pgtest::freshDatabase(); // empty: the migration brings the tables
    useEngine(Engine::File);
    registerUser(u"小明"_s, u"pw x"_s);
    writeAs(u"小明"_s, u"pw x"_s, u"搬家前"_s);
    const QStringList before = everything(u"小明"_s, u"pw x"_s);
    frmWrite* w = useLogin(u"小明"_s, u"pw x"_s);
    ASSERT_NE(w, nullptr);
    w->B_Content_text->setPlainText(u"搬家时还没保存"_s);
    app::unload(w); // kept as a draft
    useEngine(Engine::Server);
    frmLogin::data().releaseRs(); // the login's connection was on the file
    frmLogin::data().releaseOcn();
    {
        // A re-key cut off stays behind: its next key has no place on the server.
        ado::Connection file;
        file.ConnectionString = u"data source="_s + dbPath();
        file.requirePinnedKey = false;
        file.Open();
        file.Execute(u"insert into JR_rekey(B_user,wrapped,escrow) values('小明',x'00',x'00')"_s);
        EXPECT_NE(run(QStringLiteral(DAYVAULT_ADMIN), {u"migrate"_s, conf(), dbPath()}), 0);
        file.Execute(u"delete from JR_rekey"_s);
    }
    QByteArray out;
    ASSERT_EQ(run(QStringLiteral(DAYVAULT_ADMIN), {u"migrate"_s, conf(), dbPath()}, &out), 0);
    EXPECT_TRUE(QString::fromUtf8(out).contains(u"两边一致"_s));
    EXPECT_EQ(everything(u"小明"_s, u"pw x"_s), before);
    w = useLogin(u"小明"_s, u"pw x"_s);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->B_Content_text->toPlainText(), u"搬家时还没保存"_s);
    EXPECT_EQ(useLogin(u"小明"_s, u"pw y"_s), nullptr);
}

} // namespace
