#include "data/postgres/internal.h"
#include "data/postgres/postgres.h"

#include <QTimeZone>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <libpq-fe.h>
#include <poll.h>
#include <sodium.h>
#include <string>
#include <vector>

namespace ado::postgres {

const char* const kGuestRole = "dayvault_guest";
const char* const kGuestPassword = "dayvault_guest";

namespace {

constexpr Oid kBytea = 17;

// The house writes every value's place as `?`; the server numbers them. Quoted texts, quoted
// names and comments are passed as they are, and a `$n` written out stays.
QString numbered(const QString& text) {
    QString out;
    out.reserve(text.size() + 8);
    int n = 0;
    QChar quote;
    bool comment = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (comment) {
            comment = ch != QLatin1Char('\n');
        } else if (!quote.isNull()) {
            if (ch == quote)
                quote = QChar();
        } else if (ch == QLatin1Char('\'') || ch == QLatin1Char('"')) {
            quote = ch;
        } else if (ch == QLatin1Char('-') && text.mid(i, 2) == QLatin1String("--")) {
            comment = true;
        } else if (ch == QLatin1Char('?')) {
            out += QLatin1Char('$') + QString::number(++n);
            continue;
        }
        out += ch;
    }
    return out;
}

class Statement : public Cursor {
public:
    Statement(Session& s, const QString& text) : s_(s), text_(numbered(text).toUtf8()) {}
    ~Statement() override {
        PQclear(res_);
        for (QByteArray& v : values_)
            sodium_memzero(v.data(), std::size_t(v.size()));
    }

    void bind(int i, const QVariant& v) override {
        const std::size_t at = std::size_t(i - 1);
        if (values_.size() <= at) {
            values_.resize(at + 1);
            nulls_.resize(at + 1, true);
            types_.resize(at + 1, 0);
            formats_.resize(at + 1, 0);
        }
        nulls_[at] = v.isNull() && v.typeId() != QMetaType::QByteArray;
        types_[at] = 0;
        formats_[at] = 0;
        switch (v.typeId()) {
        case QMetaType::UnknownType:
            nulls_[at] = true;
            break;
        case QMetaType::QByteArray:
            values_[at] = v.toByteArray();
            types_[at] = kBytea;
            formats_[at] = 1;
            nulls_[at] = false;
            break;
        case QMetaType::Bool:
            values_[at] = v.toBool() ? "1" : "0";
            break;
        default: {
            const QString text = v.toString();
            // libpq sends a text up to its first NUL: "bo\0b" would be taken for "bo".
            if (text.contains(QChar(0)))
                throw Error(QStringLiteral("文字中含有空字符（U+0000），数据库服务器无法保存"),
                            kServerError, s_.file());
            values_[at] = text.toUtf8();
        }
        }
    }
    bool step() override {
        run();
        ++row_;
        return row_ < PQntuples(res_);
    }
    int columns() const override {
        const_cast<Statement*>(this)->run();
        return PQnfields(res_);
    }
    QString name(int i) const override {
        const_cast<Statement*>(this)->run();
        return QString::fromUtf8(PQfname(res_, i));
    }
    QVariant value(int i) const override {
        if (row_ < 0 || row_ >= PQntuples(res_) || PQgetisnull(res_, row_, i))
            return QVariant();
        const char* v = PQgetvalue(res_, row_, i);
        switch (PQftype(res_, i)) {
        case 16: // bool
            return QVariant::fromValue<qint64>(v[0] == 't' ? 1 : 0);
        case 20: // int8
        case 21: // int2
        case 23: // int4
            return QVariant::fromValue<qint64>(std::strtoll(v, nullptr, 10));
        case kBytea: {
            std::size_t n = 0;
            unsigned char* b = PQunescapeBytea(reinterpret_cast<const unsigned char*>(v), &n);
            QByteArray out(reinterpret_cast<const char*>(b), qsizetype(n));
            PQfreemem(b);
            return out;
        }
        default:
            return QString::fromUtf8(v, PQgetlength(res_, row_, i));
        }
    }

    long long integer(int i) const override {
        if (row_ < 0 || row_ >= PQntuples(res_) || PQgetisnull(res_, row_, i))
            return 0;
        return std::strtoll(PQgetvalue(res_, row_, i), nullptr, 10);
    }
    std::string_view raw(int i, bool* blob) const override {
        *blob = PQftype(res_, i) == kBytea;
        if (row_ < 0 || row_ >= PQntuples(res_) || PQgetisnull(res_, row_, i))
            return {};
        const char* v = PQgetvalue(res_, row_, i);
        const std::size_t n = std::size_t(PQgetlength(res_, row_, i));
        if (!*blob)
            return {v, n};
        // Results come as text: a bytea in the server's hex form, decoded into one buffer
        // the statement reuses.
        scratch_.clear();
        if (n >= 2 && v[0] == '\\' && v[1] == 'x') {
            const auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
            scratch_.resize((n - 2) / 2);
            for (std::size_t k = 0; k < scratch_.size(); ++k)
                scratch_[k] = char(nibble(v[2 + 2 * k]) << 4 | nibble(v[3 + 2 * k]));
        } else {
            std::size_t m = 0;
            unsigned char* b = PQunescapeBytea(reinterpret_cast<const unsigned char*>(v), &m);
            scratch_.assign(reinterpret_cast<const char*>(b), m);
            PQfreemem(b);
        }
        return scratch_;
    }

private:
    void run() {
        if (ran_)
            return;
        ran_ = true;
        std::vector<const char*> values;
        std::vector<int> lengths;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            values.push_back(nulls_[i] ? nullptr : values_[i].constData());
            lengths.push_back(int(values_[i].size()));
        }
        res_ = s_.exec(text_.constData(), int(values.size()), types_.data(), values.data(),
                       lengths.data(), formats_.data());
        const ExecStatusType st = PQresultStatus(res_);
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
            const char* state = res_ ? PQresultErrorField(res_, PG_DIAG_SQLSTATE) : nullptr;
            const char* primary =
                res_ ? PQresultErrorField(res_, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
            s_.fail(state, QString::fromUtf8(primary ? primary : PQerrorMessage(s_.raw())));
        }
        s_.changes_ = std::strtoll(PQcmdTuples(res_), nullptr, 10);
    }

    Session& s_;
    QByteArray text_;
    bool ran_ = false;
    std::vector<QByteArray> values_;
    std::vector<bool> nulls_;
    std::vector<Oid> types_;
    std::vector<int> formats_;
    PGresult* res_ = nullptr;
    mutable std::string scratch_;
    int row_ = -1;
};

// True when any host of the connection string is reached over the network.
bool overTcp(const QByteArray& conninfo) {
    char* err = nullptr;
    PQconninfoOption* opts = PQconninfoParse(conninfo.constData(), &err);
    PQfreemem(err);
    bool tcp = false;
    for (PQconninfoOption* o = opts; o && o->keyword; ++o) {
        const QByteArray key(o->keyword), value(o->val ? o->val : "");
        if (key == "hostaddr" && !value.isEmpty())
            tcp = true;
        if (key == "host")
            for (const QByteArray& h : value.split(','))
                tcp = tcp || (!h.isEmpty() && !h.startsWith('/') && !h.startsWith('@'));
    }
    PQconninfoFree(opts);
    return tcp;
}

} // namespace

Session::Session(const QString& conninfo, const QString& user, const QByteArray& password,
                 int busyMs, const QString& file)
    : file_(file), conninfo_(conninfo),
      diaryUser_(!user.isEmpty() && user != QLatin1String(kGuestRole)) {
    const QByteArray info = conninfo.toUtf8(), role = user.toUtf8();
    // Later keywords override what the connection string says.
    std::vector<const char*> keys = {"connect_timeout", "dbname"};
    std::vector<const char*> values = {"5", info.constData()};
    if (!user.isEmpty()) {
        keys.insert(keys.end(), {"user", "password"});
        values.insert(values.end(), {role.constData(), password.constData()});
    }
    // Over the network the password goes only to the server whose certificate verifies.
    if (overTcp(info)) {
        keys.push_back("sslmode");
        values.push_back("verify-full");
    }
    // Set at the start, not by statements more: a login waits for every round trip. No wait
    // is without end: a lock, a statement, and over the network a peer that stopped answering.
    // B_time is the writing computer's local time, as in the embedded file.
    QByteArray zone = QTimeZone::systemTimeZoneId();
    zone.replace('\\', "\\\\").replace(' ', "\\ ");
    // The admin tool's connection (no user of ours) runs the long jobs.
    statementMs_ = user.isEmpty() ? 600000 : std::max(2 * busyMs, 5000);
    const QByteArray options = "-c search_path=public,pg_temp -c TimeZone=" + zone +
                               " -c lock_timeout=" + QByteArray::number(busyMs) +
                               " -c statement_timeout=" + QByteArray::number(statementMs_);
    const QByteArray userTimeout = QByteArray::number(statementMs_ + 2000);
    keys.insert(keys.end(),
                {"client_encoding", "application_name", "options", "keepalives", "keepalives_idle",
                 "keepalives_interval", "keepalives_count", "tcp_user_timeout", nullptr});
    values.insert(values.end(), {"UTF8", "dayvault", options.constData(), "1", "10", "3", "3",
                                 userTimeout.constData(), nullptr});
    pg_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (PQstatus(pg_) != CONNECTION_OK) {
        const QString why = QString::fromUtf8(PQerrorMessage(pg_)).trimmed();
        PQfinish(pg_);
        pg_ = nullptr;
        throw connectFailure(why, file);
    }
    // The server's notices (a shutdown, say) are for its log, not our stderr.
    PQsetNoticeProcessor(
        pg_, [](void*, const char*) {}, nullptr);
}

Session::~Session() {
    PQfinish(pg_);
}

PGresult* Session::exec(const char* text, int n, const Oid* types, const char* const* values,
                        const int* lengths, const int* formats) {
    // The server cancels a statement after its own timeout and says so; one that says
    // nothing at all (stopped, or gone without a word) is given up a little later.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(statementMs_ + 2000);
    if (!pg_ || !PQsendQueryParams(pg_, text, n, types, values, lengths, formats, 0))
        return nullptr;
    PGresult* last = nullptr;
    const auto abandon = [&] {
        PQclear(last);
        PQfinish(pg_);
        pg_ = nullptr;
        throw Error(QStringLiteral("数据库服务器没有回应，请稍后再试；输入的内容仍在窗口中"),
                    kServerBusy, file_);
    };
    const auto wait = [&](short events) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{PQsocket(pg_), events, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) == 0)
            abandon();
    };
    for (int r; (r = PQflush(pg_)) != 0;) {
        if (r < 0)
            return nullptr;
        wait(POLLIN | POLLOUT);
        PQconsumeInput(pg_);
    }
    for (;;) {
        while (PQisBusy(pg_)) {
            wait(POLLIN);
            if (!PQconsumeInput(pg_)) {
                PQclear(last);
                return nullptr;
            }
        }
        PGresult* r = PQgetResult(pg_);
        if (!r)
            return last;
        // The first failure is the one that tells why.
        if (last && PQresultStatus(last) != PGRES_COMMAND_OK &&
            PQresultStatus(last) != PGRES_TUPLES_OK) {
            PQclear(r);
            continue;
        }
        PQclear(last);
        last = r;
    }
}

std::unique_ptr<Cursor> Session::prepare(const QString& text) {
    return std::make_unique<Statement>(*this, text);
}

long long Session::lastInsertId() {
    Statement st(*this, QStringLiteral("select lastval()"));
    return st.step() ? st.value(0).toLongLong() : 0;
}

void Session::run(const QByteArray& sql) {
    Statement st(*this, QString::fromLatin1(sql));
    st.step();
}

bool Session::inTransaction() const {
    const PGTransactionStatusType t = PQtransactionStatus(pg_);
    return t == PQTRANS_INTRANS || t == PQTRANS_INERROR || t == PQTRANS_ACTIVE;
}

bool Session::lost() const {
    // A server that went away while we were idle has said so, or closed the socket: reading
    // what is pending tells, without waiting.
    // The first read may take only its farewell message, the second finds the socket closed.
    for (int i = 0;
         pg_ && i < 2 && PQtransactionStatus(pg_) == PQTRANS_IDLE && PQstatus(pg_) == CONNECTION_OK;
         ++i)
        PQconsumeInput(pg_);
    return !pg_ || PQstatus(pg_) != CONNECTION_OK;
}

QByteArray Session::verifier(const QString& role, const QByteArray& password) {
    char* v = PQencryptPasswordConn(pg_, password.constData(), role.toUtf8().constData(),
                                    "scram-sha-256");
    if (!v)
        fail(nullptr, QString::fromUtf8(PQerrorMessage(pg_)));
    QByteArray out(v);
    PQfreemem(v);
    return out;
}

std::unique_ptr<Engine> connect(const QString& conninfo, const QString& user,
                                const QByteArray& password, int busyMs, const QString& file) {
    return std::make_unique<Session>(conninfo, user, password, busyMs, file);
}

} // namespace ado::postgres
