#include "platform/net/HttpHeaders.h"

namespace corvex {

namespace {

bool sameFieldName(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

HttpHeaders::HttpHeaders(std::initializer_list<Field> fields) : mFields(fields) {}

void HttpHeaders::add(const QByteArray& name, const QByteArray& value)
{
    mFields.append(Field(name, value));
}

void HttpHeaders::set(const QByteArray& name, const QByteArray& value)
{
    remove(name);
    add(name, value);
}

void HttpHeaders::remove(const QByteArray& name)
{
    mFields.removeIf([&](const Field& field) { return sameFieldName(field.first, name); });
}

bool HttpHeaders::contains(const QByteArray& name) const
{
    for (const Field& field : mFields) {
        if (sameFieldName(field.first, name))
            return true;
    }
    return false;
}

QByteArray HttpHeaders::value(const QByteArray& name) const
{
    for (const Field& field : mFields) {
        if (sameFieldName(field.first, name))
            return field.second;
    }
    return {};
}

QList<QByteArray> HttpHeaders::values(const QByteArray& name) const
{
    QList<QByteArray> found;
    for (const Field& field : mFields) {
        if (sameFieldName(field.first, name))
            found.append(field.second);
    }
    return found;
}

} // namespace corvex
