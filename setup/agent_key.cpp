#include "agent_key.hpp"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace setup {
namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct OpensslFree {
    void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};

std::string lowerHex(const unsigned char* bytes, unsigned int length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

}  // namespace

std::string keyFingerprint(EVP_PKEY* key) {
    if (key == nullptr) return "";
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0) return "";
    const std::unique_ptr<unsigned char, OpensslFree> owned(der);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(der, static_cast<std::size_t>(length), digest, &digestLength, EVP_sha256(),
                   nullptr) != 1) {
        return "";
    }
    return lowerHex(digest, digestLength);
}

AgentKey loadAgentKey(const std::string& path) {
    // setup carries its own libcrypto; the machine's openssl.cnf belongs to
    // whatever OpenSSL the machine has (another version, other providers),
    // and the signature check must not depend on it.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
    AgentKey result;
    const std::unique_ptr<BIO, BioFree> file(BIO_new_file(path.c_str(), "rb"));
    if (file) {
        PkeyPtr key(PEM_read_bio_PUBKEY(file.get(), nullptr, nullptr, nullptr));
        std::string fingerprint;
        if (key && EVP_PKEY_get_id(key.get()) == EVP_PKEY_ED25519) {
            fingerprint = keyFingerprint(key.get());
        }
        if (!fingerprint.empty()) result = AgentKey{std::move(key), std::move(fingerprint)};
    }
    // A key that cannot be read leaves its reasons queued; they are not ours
    // to report and must not be mistaken for a later failure's.
    ERR_clear_error();
    return result;
}

}  // namespace setup
