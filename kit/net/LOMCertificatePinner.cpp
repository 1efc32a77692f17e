#include "kit/net/LOMCertificatePinner.h"

#include "kit/net/LOMPinnedRoots_p.h"
#include "platform/core/Log.h"

#include <arpa/inet.h>
#include <mutex>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace corvex {

namespace {

struct PinnedCertificateState
{
    std::mutex mutex;
    std::optional<QList<QByteArray>> override;
};

PinnedCertificateState& pinnedState()
{
    static PinnedCertificateState state;
    return state;
}

QList<QByteArray> compiledInPinnedRoots()
{
    QList<QByteArray> roots;
    BIO* bio = BIO_new_mem_buf(LOMPinnedRootsPem, -1);
    if (bio == nullptr)
        return roots;
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(certificate, &der);
        if (length > 0)
            roots.append(QByteArray(reinterpret_cast<const char*>(der), length));
        OPENSSL_free(der);
        X509_free(certificate);
    }
    BIO_free(bio);
    return roots;
}

X509* pinnerCertificateFromDer(const QByteArray& der)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.constData());
    X509* certificate = d2i_X509(nullptr, &bytes, der.size());
    if (certificate != nullptr &&
        bytes != reinterpret_cast<const unsigned char*>(der.constData()) + der.size()) {
        X509_free(certificate); // trailing bytes: not one certificate
        return nullptr;
    }
    return certificate;
}

} // namespace

QList<QByteArray> LOMPinnedCertificates()
{
    static const QList<QByteArray> compiledIn = compiledInPinnedRoots();
    PinnedCertificateState& state = pinnedState();
    std::lock_guard lock(state.mutex);
    return state.override ? *state.override : compiledIn;
}

std::optional<QList<QByteArray>> LOMSetPinnedCertificatesForTesting(std::optional<QList<QByteArray>> roots)
{
    PinnedCertificateState& state = pinnedState();
    std::lock_guard lock(state.mutex);
    std::optional<QList<QByteArray>> previous = std::move(state.override);
    state.override = std::move(roots);
    return previous;
}

LOMCertificatePinner::LOMCertificatePinner(QList<QByteArray> certificates)
    : mCertificates(std::move(certificates))
{}

std::optional<QByteArray> LOMCertificatePinner::createCertificationWithData(const QByteArray& der)
{
    X509* certificate = pinnerCertificateFromDer(der);
    if (certificate == nullptr)
        return std::nullopt;
    X509_free(certificate);
    return der;
}

LOMCertificatePinner::Evaluation LOMCertificatePinner::evaluateTrust(const ServerTrust& trust) const
{
    if (mCertificates.isEmpty())
        return {0, Invalid};
    if (trust.chainDer.isEmpty())
        return {0, RecoverableTrustFailure};

    X509_STORE* store = X509_STORE_new();
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    X509* leaf = pinnerCertificateFromDer(trust.chainDer.first());
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    Evaluation evaluation{0, RecoverableTrustFailure};
    auto cleanup = [&] {
        X509_STORE_CTX_free(context);
        X509_free(leaf);
        sk_X509_pop_free(untrusted, X509_free);
        X509_STORE_free(store);
    };
    if (store == nullptr || untrusted == nullptr || context == nullptr) {
        cleanup();
        return {-1, FatalTrustFailure};
    }
    // The pinned roots are the only anchors: no default paths are loaded.
    int anchors = 0;
    for (const QByteArray& der : mCertificates) {
        X509* root = pinnerCertificateFromDer(der);
        if (root == nullptr)
            continue;
        if (X509_STORE_add_cert(store, root) == 1)
            ++anchors;
        X509_free(root);
    }
    if (anchors == 0) {
        cleanup();
        return {-1, FatalTrustFailure};
    }
    if (leaf == nullptr) {
        cleanup();
        return evaluation;
    }
    for (qsizetype i = 1; i < trust.chainDer.size(); ++i) {
        if (X509* intermediate = pinnerCertificateFromDer(trust.chainDer[i]);
            intermediate != nullptr && sk_X509_push(untrusted, intermediate) == 0)
            X509_free(intermediate);
    }
    if (X509_STORE_CTX_init(context, store, leaf, untrusted) != 1) {
        cleanup();
        return {-1, FatalTrustFailure};
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    const QByteArray host = trust.host.toUtf8();
    unsigned char address[16];
    const bool isAddress = inet_pton(AF_INET, host.constData(), address) == 1 ||
                           inet_pton(AF_INET6, host.constData(), address) == 1;
    const bool hostSet =
        isAddress ? X509_VERIFY_PARAM_set1_ip_asc(param, host.constData()) == 1
                  : X509_VERIFY_PARAM_set1_host(param, host.constData(), std::size_t(host.size())) == 1;
    if (!hostSet || host.isEmpty()) {
        cleanup();
        return evaluation;
    }
    if (X509_verify_cert(context) == 1)
        evaluation.result = Unspecified;
    cleanup();
    return evaluation;
}

bool LOMCertificatePinner::handleChallenge(const ServerTrust& trust, TrustDisposition* disposition) const
{
    const Evaluation evaluation = evaluateTrust(trust);
    const bool accepted =
        evaluation.status == 0 && (evaluation.result == Proceed || evaluation.result == Unspecified);
    if (disposition != nullptr)
        *disposition = accepted ? TrustDisposition::UseCredential : TrustDisposition::CancelChallenge;
    return accepted;
}

} // namespace corvex
