// The public key a release pins for its downloaded agents: read from the
// payload's agent-key.pem, and named in the cache by its fingerprint.
#pragma once

#include <memory>
#include <string>

#include <openssl/evp.h>

namespace setup {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

// The release's agent key. An empty key means the release pins none: its
// agents are trusted as the server sends them.
struct AgentKey {
    PkeyPtr key;
    std::string fingerprint;  // keyFingerprint(key), "" when no key
    bool pinned() const { return key != nullptr; }
};

// Reads an Ed25519 public key in PEM (SubjectPublicKeyInfo). The result is
// empty when the file cannot be read or holds anything else.
AgentKey loadAgentKey(const std::string& path);

// Lower-case hex SHA-256 of the key's DER SubjectPublicKeyInfo (what
// "openssl pkey -pubin -outform DER | sha256sum" prints), or "" on failure.
std::string keyFingerprint(EVP_PKEY* key);

}  // namespace setup
