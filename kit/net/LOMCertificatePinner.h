#pragma once

#include "platform/net/ServerTrust.h"

#include <QByteArray>
#include <QList>
#include <optional>

namespace corvex {

// The pinned roots: the DER certificates of the compiled-in resource (kit/net/resources/
// pinned_roots.pem, the deployment's trust anchors), made once per process.
QList<QByteArray> LOMPinnedCertificates();
// Tests pin roots of their own; nullopt goes back to the compiled-in set. Returns the
// previous override.
std::optional<QList<QByteArray>> LOMSetPinnedCertificatesForTesting(std::optional<QList<QByteArray>> roots);

// Settles a server-trust challenge by verifying the presented chain with the pinned roots
// as the only anchors (the system's store is never consulted): the chain must lead to one
// of them, every certificate must be within its validity dates, and the leaf must be for
// the host the connection was made to. Stateless: challenges may be answered in parallel.
class LOMCertificatePinner
{
public:
    // Trust results and statuses as the kit's callers know them.
    enum Result
    {
        Invalid = 0,
        Proceed = 1,
        Unspecified = 4,
        RecoverableTrustFailure = 5,
        FatalTrustFailure = 6,
    };
    struct Evaluation
    {
        int status = 0; // 0: the evaluation ran
        int result = Invalid;
    };

    explicit LOMCertificatePinner(QList<QByteArray> certificates);

    // The DER bytes when they are one certificate; nothing otherwise.
    static std::optional<QByteArray> createCertificationWithData(const QByteArray& der);

    const QList<QByteArray>& certificates() const { return mCertificates; }
    Evaluation evaluateTrust(const ServerTrust& trust) const;
    // Use-credential for an accepted server (true), cancel otherwise (false).
    bool handleChallenge(const ServerTrust& trust, TrustDisposition* disposition) const;

private:
    QList<QByteArray> mCertificates;
};

} // namespace corvex
