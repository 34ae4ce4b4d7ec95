#pragma once
// Inside the data layer only: one engine's session and a statement on it, so entry work and
// key records run the same on the embedded file and on a server.
#include <QString>
#include <QVariant>
#include <memory>

namespace ado {

class Cursor {
public:
    virtual ~Cursor() = default;
    virtual void bind(int i, const QVariant& v) = 0; // from 1
    virtual bool step() = 0;                         // true for a row
    virtual int columns() const = 0;
    virtual QString name(int i) const = 0;
    virtual QVariant value(int i) const = 0;
};

class Handle {
public:
    virtual ~Handle() = default;
    virtual std::unique_ptr<Cursor> prepare(const QString& text) = 0;
    // Of the statement run last.
    virtual long long changes() const = 0;
    virtual long long lastInsertId() const = 0;
    virtual bool inTransaction() const = 0;
    // The longest LIKE pattern the engine takes, in bytes.
    virtual int likeLimit() const = 0;
};

} // namespace ado
