#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

namespace corvex {

// SHA-1 digests as lower-case hex text. Attachment identifiers hash the attachment's data
// followed by its file extension, hence the incremental form.
class Sha1
{
public:
    Sha1();
    ~Sha1();
    Sha1(Sha1&&) noexcept;
    Sha1& operator=(Sha1&&) noexcept;
    Sha1(const Sha1&) = delete;
    Sha1& operator=(const Sha1&) = delete;

    // 40 lower-case hex digits.
    static QString hex(const QByteArray& data);

    void update(const QByteArray& data);
    void update(const char* data, qsizetype size);
    // The digest of everything added so far; more data may be added afterwards.
    QByteArray digest() const;
    QString hexDigest() const;

private:
    struct Context;
    std::unique_ptr<Context> mContext;
};

} // namespace corvex
