#include "test_keys.hpp"

#include <memory>
#include <openssl/pem.h>
#include <stdexcept>

namespace setup_test {
namespace {

struct MdCtxFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

}  // namespace

setup::PkeyPtr generateKey(const char* type) {
    const std::string name = type;
    EVP_PKEY* key = name == "RSA" ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", std::size_t{1024})
                                  : EVP_PKEY_Q_keygen(nullptr, nullptr, type);
    if (key == nullptr) throw std::runtime_error("cannot make a " + name + " key");
    return setup::PkeyPtr(key);
}

std::string signBytes(EVP_PKEY* key, const std::string& data) {
    const std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
    std::size_t length = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, bytes, data.size()) != 1) {
        throw std::runtime_error("cannot sign");
    }
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       bytes, data.size()) != 1) {
        throw std::runtime_error("cannot sign");
    }
    signature.resize(length);
    return signature;
}

void writePublicKeyPem(EVP_PKEY* key, const std::string& path) {
    const std::unique_ptr<BIO, BioFree> file(BIO_new_file(path.c_str(), "wb"));
    if (!file || PEM_write_bio_PUBKEY(file.get(), key) != 1) {
        throw std::runtime_error("cannot write " + path);
    }
}

setup::AgentKey pinnedKey(EVP_PKEY* key, const std::string& scratchDirectory) {
    const std::string path = scratchDirectory + "/pinned-key.pem";
    writePublicKeyPem(key, path);
    setup::AgentKey pinned = setup::loadAgentKey(path);
    if (!pinned.pinned()) throw std::runtime_error("the installer cannot read " + path);
    return pinned;
}

}  // namespace setup_test
