#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

namespace corvex {

// The header fields of a request or a response: in the order they were given, names
// compared without regard to case. add() puts a field beside any of the same name (a
// response may repeat Set-Cookie); set() replaces them all.
class HttpHeaders
{
public:
    using Field = QPair<QByteArray, QByteArray>;

    HttpHeaders() = default;
    HttpHeaders(std::initializer_list<Field> fields);

    void add(const QByteArray& name, const QByteArray& value);
    void set(const QByteArray& name, const QByteArray& value);
    void remove(const QByteArray& name);

    bool contains(const QByteArray& name) const;
    // The first field of that name; empty when there is none.
    QByteArray value(const QByteArray& name) const;
    // Every field of that name, in order.
    QList<QByteArray> values(const QByteArray& name) const;

    const QList<Field>& fields() const { return mFields; }
    qsizetype size() const { return mFields.size(); }
    bool isEmpty() const { return mFields.isEmpty(); }
    void clear() { mFields.clear(); }

    friend bool operator==(const HttpHeaders& a, const HttpHeaders& b) { return a.mFields == b.mFields; }

private:
    QList<Field> mFields;
};

} // namespace corvex
