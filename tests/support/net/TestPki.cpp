#include "tests/support/net/TestPki.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace corvex::test {

namespace {

struct PkiKeyFree
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkiCertFree
{
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using PkiKey = std::unique_ptr<EVP_PKEY, PkiKeyFree>;
using PkiCert = std::unique_ptr<X509, PkiCertFree>;

[[noreturn]] void pkiFail(const char* what)
{
    std::fprintf(stderr, "TestPki: %s\n", what);
    std::abort();
}

struct Issued
{
    PkiKey key;
    PkiCert certificate;
};

QByteArray bioText(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    QByteArray text(data, int(size));
    BIO_free(bio);
    return text;
}

QByteArray certificatePem(X509* certificate)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr || PEM_write_bio_X509(bio, certificate) != 1)
        pkiFail("cannot write a certificate");
    return bioText(bio);
}

QByteArray keyPem(EVP_PKEY* key)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr || PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        pkiFail("cannot write a key");
    return bioText(bio);
}

QByteArray certificateDerBytes(X509* certificate)
{
    const int size = i2d_X509(certificate, nullptr);
    QByteArray der(size, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    i2d_X509(certificate, &out);
    return der;
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_nconf_nid(nullptr, &context, nid, value);
    if (extension == nullptr || X509_add_ext(certificate, extension, -1) != 1)
        pkiFail("cannot add an extension");
    X509_EXTENSION_free(extension);
}

struct Subject
{
    const char* commonName;
    bool authority = false;
    const char* altName = nullptr; // "IP:127.0.0.1", "DNS:wrong-host.invalid"
    long notBeforeDays = -1;
    long notAfterDays = 365;
};

// A certificate for a new key; self-signed when there is no issuer.
Issued issue(const Subject& subject, const Issued* issuer)
{
    static long serial = 1;
    Issued made;
    made.key.reset(EVP_EC_gen("P-256"));
    made.certificate.reset(X509_new());
    if (!made.key || !made.certificate)
        pkiFail("cannot make a key");
    X509* certificate = made.certificate.get();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate), subject.notBeforeDays * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(certificate), subject.notAfterDays * 86400L);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Corvex tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(subject.commonName), -1, -1, 0);
    X509* issuerCertificate = issuer != nullptr ? issuer->certificate.get() : certificate;
    X509_set_issuer_name(certificate, X509_get_subject_name(issuerCertificate));
    X509_set_pubkey(certificate, made.key.get());
    addExtension(certificate, issuerCertificate, NID_basic_constraints,
                 subject.authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
    addExtension(certificate, issuerCertificate, NID_key_usage,
                 subject.authority ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    addExtension(certificate, issuerCertificate, NID_subject_key_identifier, "hash");
    if (issuer != nullptr)
        addExtension(certificate, issuerCertificate, NID_authority_key_identifier, "keyid");
    if (!subject.authority)
        addExtension(certificate, issuerCertificate, NID_ext_key_usage, "serverAuth");
    if (subject.altName != nullptr)
        addExtension(certificate, issuerCertificate, NID_subject_alt_name, subject.altName);
    EVP_PKEY* signer = issuer != nullptr ? issuer->key.get() : made.key.get();
    if (X509_sign(certificate, signer, EVP_sha256()) <= 0)
        pkiFail("cannot sign a certificate");
    return made;
}

TestCertificate describe(const Issued& issued, const QList<const Issued*>& intermediates)
{
    TestCertificate out;
    out.certificatePem = certificatePem(issued.certificate.get());
    out.privateKeyPem = keyPem(issued.key.get());
    out.der = certificateDerBytes(issued.certificate.get());
    out.chainPem = out.certificatePem;
    for (const Issued* intermediate : intermediates)
        out.chainPem += certificatePem(intermediate->certificate.get());
    return out;
}

} // namespace

const TestPki& TestPki::shared()
{
    static const TestPki pki;
    return pki;
}

TestPki::TestPki()
{
    const Issued a = issue({"Corvex Test Root A", true, nullptr, -1, 3650}, nullptr);
    const Issued aIntermediate = issue({"Corvex Test Intermediate A", true, nullptr, -1, 3650}, &a);
    const Issued b = issue({"Corvex Test Root B", true, nullptr, -1, 3650}, nullptr);
    const Issued leafOfA = issue({"127.0.0.1", false, "IP:127.0.0.1"}, &aIntermediate);
    const Issued leafOfB = issue({"127.0.0.1", false, "IP:127.0.0.1"}, &b);
    const Issued wrongHost = issue({"wrong-host.invalid", false, "DNS:wrong-host.invalid"}, &aIntermediate);
    const Issued expired = issue({"127.0.0.1", false, "IP:127.0.0.1", -30, -1}, &aIntermediate);
    const Issued aIntermediate2 = issue({"Corvex Test Intermediate A2", true, nullptr, -1, 3650}, &a);
    const Issued leafOfA2 = issue({"127.0.0.1", false, "IP:127.0.0.1"}, &aIntermediate2);

    rootA = describe(a, {});
    intermediateA = describe(aIntermediate, {});
    rootB = describe(b, {});
    leafA = describe(leafOfA, {&aIntermediate});
    leafB = describe(leafOfB, {});
    wrongHostA = describe(wrongHost, {&aIntermediate});
    expiredA = describe(expired, {&aIntermediate});
    intermediateA2 = describe(aIntermediate2, {});
    leafA2 = describe(leafOfA2, {&aIntermediate2});
}

} // namespace corvex::test
