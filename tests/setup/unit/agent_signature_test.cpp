// The release's agent key and the check of an archive against its detached
// signature: only an Ed25519 signature by the pinned key over exactly the
// archive's bytes passes; keys are read as the openssl tool writes them.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <unistd.h>

#include "agent_key.hpp"
#include "agent_signature.hpp"
#include "test_keys.hpp"
#include "test_support.hpp"

using setup::ArchiveSignature;
using setup::checkArchiveSignature;
using setup::loadAgentKey;
using setup::signatureValid;
using setup_test::generateKey;
using setup_test::shellOutput;
using setup_test::signBytes;
using setup_test::TempDir;

namespace {

bool valid(EVP_PKEY* key, const std::string& data, const std::string& signature) {
    return signatureValid(key, reinterpret_cast<const unsigned char*>(data.data()), data.size(),
                          signature);
}

TEST(SignatureValid, OnlyTheSignedBytesPass) {
    const setup::PkeyPtr key = generateKey("ED25519");
    const std::string data = "PK\x03\x04 an agent archive, byte for byte";
    const std::string signature = signBytes(key.get(), data);
    ASSERT_EQ(signature.size(), setup::kSignatureBytes);
    EXPECT_TRUE(valid(key.get(), data, signature));

    std::string tampered = data;
    tampered[10] ^= 0x01;
    EXPECT_FALSE(valid(key.get(), tampered, signature));
    EXPECT_FALSE(valid(key.get(), data + "x", signature));
    EXPECT_FALSE(valid(key.get(), data.substr(0, data.size() - 1), signature));
    std::string damaged = signature;
    damaged[63] ^= 0x80;
    EXPECT_FALSE(valid(key.get(), data, damaged));

    EXPECT_TRUE(valid(key.get(), "", signBytes(key.get(), "")));
    EXPECT_FALSE(valid(key.get(), "", signature));
}

TEST(SignatureValid, OnlyThePinnedEd25519KeyPasses) {
    const setup::PkeyPtr key = generateKey("ED25519");
    const setup::PkeyPtr other = generateKey("ED25519");
    const std::string data = "agent archive";
    EXPECT_FALSE(valid(key.get(), data, signBytes(other.get(), data)));
    EXPECT_FALSE(valid(nullptr, data, signBytes(key.get(), data)));

    // A key of another type, even one that verifies its own signature.
    const setup::PkeyPtr ed448 = generateKey("ED448");
    const std::string ed448Signature = signBytes(ed448.get(), data);
    EXPECT_FALSE(valid(ed448.get(), data, ed448Signature));
    EXPECT_FALSE(valid(ed448.get(), data, ed448Signature.substr(0, setup::kSignatureBytes)));
    const setup::PkeyPtr x25519 = generateKey("X25519");
    EXPECT_FALSE(valid(x25519.get(), data, signBytes(key.get(), data)));
    const setup::PkeyPtr rsa = generateKey("RSA");
    EXPECT_FALSE(valid(rsa.get(), data, signBytes(key.get(), data)));
}

TEST(SignatureValid, ASignatureOfAnyOtherLengthIsNone) {
    const setup::PkeyPtr key = generateKey("ED25519");
    const std::string data = "agent archive";
    const std::string signature = signBytes(key.get(), data);
    for (const std::string& wrong : {std::string(), signature.substr(0, 63), signature + '\0',
                                     signature + signature, signature.substr(0, 32)}) {
        EXPECT_FALSE(valid(key.get(), data, wrong)) << wrong.size() << " bytes";
    }
}

TEST(CheckArchiveSignature, TheWholeFileIsChecked) {
    TempDir dir;
    const setup::PkeyPtr key = generateKey("ED25519");
    std::string archive(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>(i * 131 % 251);
    const std::string signature = signBytes(key.get(), archive);
    const std::string path = dir / "InstallAgent.zip";
    setup_test::writeFile(path, archive);
    EXPECT_EQ(checkArchiveSignature(path, signature, key.get()), ArchiveSignature::Valid);

    // One byte short at the end, or one byte changed at the end.
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(archive.size() - 1)), 0);
    EXPECT_EQ(checkArchiveSignature(path, signature, key.get()), ArchiveSignature::Invalid);
    std::string changed = archive;
    changed.back() ^= 0x01;
    setup_test::writeFile(path, changed);
    EXPECT_EQ(checkArchiveSignature(path, signature, key.get()), ArchiveSignature::Invalid);

    setup_test::writeFile(path, "");
    EXPECT_EQ(checkArchiveSignature(path, signBytes(key.get(), ""), key.get()),
              ArchiveSignature::Valid);
    EXPECT_EQ(checkArchiveSignature(path, signature, key.get()), ArchiveSignature::Invalid);
}

TEST(CheckArchiveSignature, AnArchiveThatCannotBeReadIsSaidSo) {
    TempDir dir;
    const setup::PkeyPtr key = generateKey("ED25519");
    const std::string signature = signBytes(key.get(), "");
    errno = 0;
    EXPECT_EQ(checkArchiveSignature(dir / "missing.zip", signature, key.get()),
              ArchiveSignature::Unreadable);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(checkArchiveSignature(dir.path(), signature, key.get()),
              ArchiveSignature::Unreadable);
    EXPECT_NE(errno, 0);
}

// Keys made and used by the openssl tool, as release engineers do.
class AgentKeyFile : public ::testing::Test {
protected:
    std::string openssl(const std::string& arguments) {
        return shellOutput("cd '" + dir_.path() + "' && openssl " + arguments + " 2>&1");
    }
    TempDir dir_;
};

TEST_F(AgentKeyFile, AnEd25519PublicKeyIsNamedByItsFingerprint) {
    openssl("genpkey -algorithm ed25519 -out private.pem");
    openssl("pkey -in private.pem -pubout -out public.pem");
    const setup::AgentKey key = loadAgentKey(dir_ / "public.pem");
    ASSERT_TRUE(key.pinned());
    const std::string expected =
        openssl("pkey -pubin -in public.pem -outform DER | sha256sum").substr(0, 64);
    EXPECT_EQ(key.fingerprint, expected);
    EXPECT_EQ(setup::keyFingerprint(key.key.get()), expected);

    // What the openssl tool signs, the loaded key verifies.
    setup_test::writeFile(dir_ / "archive.zip", "an agent archive\n");
    openssl("pkeyutl -sign -rawin -inkey private.pem -in archive.zip -out archive.zip.sig");
    const std::string signature = setup_test::readFile(dir_ / "archive.zip.sig");
    EXPECT_EQ(checkArchiveSignature(dir_ / "archive.zip", signature, key.key.get()),
              ArchiveSignature::Valid);

    openssl("genpkey -algorithm ed25519 -out other.pem");
    openssl("pkey -in other.pem -pubout -out other.pub");
    const setup::AgentKey other = loadAgentKey(dir_ / "other.pub");
    ASSERT_TRUE(other.pinned());
    EXPECT_NE(other.fingerprint, key.fingerprint);
    EXPECT_EQ(checkArchiveSignature(dir_ / "archive.zip", signature, other.key.get()),
              ArchiveSignature::Invalid);
}

TEST_F(AgentKeyFile, AnythingElseIsNoKey) {
    openssl("genpkey -algorithm ed25519 -out ed25519.pem");
    openssl("pkey -in ed25519.pem -pubout -outform DER -out ed25519.der");
    openssl("genpkey -algorithm ed448 -out ed448.pem");
    openssl("pkey -in ed448.pem -pubout -out ed448.pub");
    openssl("genpkey -algorithm x25519 -out x25519.pem");
    openssl("pkey -in x25519.pem -pubout -out x25519.pub");
    openssl("genpkey -algorithm rsa -pkeyopt rsa_keygen_bits:1024 -out rsa.pem");
    openssl("pkey -in rsa.pem -pubout -out rsa.pub");
    setup_test::writeFile(dir_ / "text.pem", "-----BEGIN PUBLIC KEY-----\nnot base64\n");
    setup_test::writeFile(dir_ / "empty.pem", "");
    ASSERT_EQ(symlink("nowhere.pem", (dir_ / "dangling.pem").c_str()), 0);
    for (const char* name : {"ed25519.pem", "ed25519.der", "ed448.pub", "x25519.pub", "rsa.pub",
                             "text.pem", "empty.pem", "dangling.pem", "missing.pem", "."}) {
        const setup::AgentKey key = loadAgentKey(dir_ / name);
        EXPECT_FALSE(key.pinned()) << name;
        EXPECT_EQ(key.fingerprint, "") << name;
    }
}

}  // namespace
