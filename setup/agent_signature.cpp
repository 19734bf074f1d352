#include "agent_signature.hpp"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <openssl/err.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace setup {
namespace {

struct MdCtxFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// A whole file mapped read-only for as long as the object lives; error() is
// the errno of a failed open, stat or mapping.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error_ = errno;
            return;
        }
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            error_ = errno;
        } else if (st.st_size > 0) {
            size_ = static_cast<std::size_t>(st.st_size);
            void* mapped = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped == MAP_FAILED) {
                error_ = errno;
                size_ = 0;
            } else {
                data_ = mapped;
            }
        }
        close(fd);  // the mapping outlives the descriptor
    }
    ~MappedFile() {
        if (data_ != nullptr) munmap(data_, size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    int error() const { return error_; }
    std::size_t size() const { return size_; }
    // An empty file has no mapping; it is the empty message.
    const unsigned char* data() const {
        static const unsigned char kEmpty[1] = {0};
        return data_ != nullptr ? static_cast<const unsigned char*>(data_) : kEmpty;
    }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
    int error_ = 0;
};

bool verifyEd25519(EVP_PKEY* key, const unsigned char* data, std::size_t size,
                   const std::string& signature) {
    if (key == nullptr || EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) return false;
    if (signature.size() != kSignatureBytes) return false;
    const std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
    if (!context) return false;
    // Ed25519 takes no separate digest and signs the message in one pass.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key) != 1) return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), data, size) == 1;
}

}  // namespace

bool signatureValid(EVP_PKEY* key, const unsigned char* data, std::size_t size,
                    const std::string& signature) {
    const bool valid = verifyEd25519(key, data, size, signature);
    // A signature that fails leaves OpenSSL's reasons queued; the verdict is
    // all the caller needs.
    ERR_clear_error();
    return valid;
}

ArchiveSignature checkArchiveSignature(const std::string& archive, const std::string& signature,
                                       EVP_PKEY* key) {
    const MappedFile file(archive);
    if (file.error() != 0) {
        errno = file.error();
        return ArchiveSignature::Unreadable;
    }
    if (!signatureValid(key, file.data(), file.size(), signature)) {
        return ArchiveSignature::Invalid;
    }
    return ArchiveSignature::Valid;
}

}  // namespace setup
