#include "platform/core/Sha1.h"

#include "platform/core/Log.h"

#include <openssl/evp.h>

namespace corvex {

struct Sha1::Context
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool failed = false;
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha1::Sha1() : mContext(std::make_unique<Context>())
{
    if (mContext->ctx == nullptr || EVP_DigestInit_ex(mContext->ctx, EVP_sha1(), nullptr) != 1) {
        mContext->failed = true;
        Log::error(QStringLiteral("SHA-1: cannot initialise the digest"));
    }
}

Sha1::~Sha1() = default;
Sha1::Sha1(Sha1&&) noexcept = default;
Sha1& Sha1::operator=(Sha1&&) noexcept = default;

QString Sha1::hex(const QByteArray& data)
{
    Sha1 hash;
    hash.update(data);
    return hash.hexDigest();
}

void Sha1::update(const QByteArray& data)
{
    update(data.constData(), data.size());
}

void Sha1::update(const char* data, qsizetype size)
{
    if (!mContext || mContext->failed || size <= 0)
        return;
    if (EVP_DigestUpdate(mContext->ctx, data, std::size_t(size)) != 1)
        mContext->failed = true;
}

QByteArray Sha1::digest() const
{
    if (!mContext || mContext->failed)
        return QByteArray();
    // Finishing a copy leaves this context open for further updates.
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    QByteArray out(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    const bool ok = copy != nullptr && EVP_MD_CTX_copy_ex(copy, mContext->ctx) == 1 &&
                    EVP_DigestFinal_ex(copy, reinterpret_cast<unsigned char*>(out.data()), &length) == 1;
    EVP_MD_CTX_free(copy);
    if (!ok)
        return QByteArray();
    out.truncate(length);
    return out;
}

QString Sha1::hexDigest() const
{
    return QString::fromLatin1(digest().toHex());
}

} // namespace corvex
