#pragma once

#include <QByteArray>
#include <QList>

namespace corvex::test {

// A certificate the test PKI issued, in PEM, with the chain a server presents (the
// certificate, then its intermediates).
struct TestCertificate
{
    QByteArray certificatePem;
    QByteArray privateKeyPem;
    QByteArray chainPem;
    QByteArray der;
};

// Certificates for TLS tests, made with OpenSSL at first use (EC P-256, SHA-256) and kept
// for the process:
// - root A, with an intermediate under it that issues the leaves "A";
// - root B, which issues its leaf directly;
// - leafA and leafB for 127.0.0.1 (an IP subject alternative name);
// - wrongHostA for "wrong-host.invalid" only;
// - expiredA for 127.0.0.1, whose validity ended a day ago;
// - leafA2 for 127.0.0.1 under a second intermediate of root A (a server that replaced its
//   leaf and intermediate).
class TestPki
{
public:
    static const TestPki& shared();

    TestCertificate rootA;
    TestCertificate intermediateA;
    TestCertificate rootB;
    TestCertificate leafA;
    TestCertificate leafB;
    TestCertificate wrongHostA;
    TestCertificate expiredA;
    TestCertificate intermediateA2;
    TestCertificate leafA2;

private:
    TestPki();
};

} // namespace corvex::test
