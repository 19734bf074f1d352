// Keys and signatures made by the installer's unit tests with libcrypto:
// fresh key pairs of any type, Ed25519 signatures and PEM files.
#pragma once

#include <string>

#include "agent_key.hpp"

namespace setup_test {

// A fresh key pair of an OpenSSL key type without parameters: "ED25519",
// "ED448", "X25519"; or "RSA" (1024 bits). Throws when none can be made.
setup::PkeyPtr generateKey(const char* type);

// The one-shot signature of data by an Ed25519 or Ed448 key.
std::string signBytes(EVP_PKEY* key, const std::string& data);

// Writes the key's public half to path as a PEM SubjectPublicKeyInfo.
void writePublicKeyPem(EVP_PKEY* key, const std::string& path);

// The release key a fetch or an acquisition checks against: key's public
// half, read back as the installer reads agent-key.pem.
setup::AgentKey pinnedKey(EVP_PKEY* key, const std::string& scratchDirectory);

}  // namespace setup_test
