// Checks a downloaded agent archive against its detached Ed25519 signature
// before anything in it is unpacked, recorded or run.
#pragma once

#include <cstddef>
#include <string>

#include <openssl/evp.h>

namespace setup {

// An Ed25519 signature is exactly this long; anything else is not one.
inline constexpr std::size_t kSignatureBytes = 64;

// True when signature is an Ed25519 signature of the size bytes at data by
// key. False for a key of any other type, a signature of any other length
// or one that does not verify.
bool signatureValid(EVP_PKEY* key, const unsigned char* data, std::size_t size,
                    const std::string& signature);

enum class ArchiveSignature {
    Valid,       // the signature covers exactly the archive's bytes
    Invalid,     // it does not, or it is no Ed25519 signature by key
    Unreadable,  // the archive could not be read; errno says why
};

// Maps the archive read-only and checks the signature over all its bytes.
ArchiveSignature checkArchiveSignature(const std::string& archive, const std::string& signature,
                                       EVP_PKEY* key);

}  // namespace setup
