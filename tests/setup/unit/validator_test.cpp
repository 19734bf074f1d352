// Capturing, recording and comparing the agent's validator line.
#include <gtest/gtest.h>

#include <string>

#include "validator.hpp"
#include "test_support.hpp"

using setup::captureValidator;
using setup::storeValidator;
using setup::validatorMatches;
using setup_test::TempDir;

namespace {

// Feeds one header line as libcurl would; checks the callback accepts it all.
void feed(std::string& area, std::string line) {
    ASSERT_EQ(captureValidator(line.data(), 1, line.size(), &area), line.size());
}

TEST(CaptureValidator, KeepsTheETagLineWithItsCarriageReturn) {
    std::string area;
    feed(area, "HTTP/1.1 200 OK\r\n");
    feed(area, "Content-Length: 10\r\n");
    feed(area, "ETag: \"abc\"\r\n");
    feed(area, "Server: x\r\n");
    feed(area, "\r\n");
    EXPECT_EQ(area, "ETag: \"abc\"\r");
}

TEST(CaptureValidator, MatchesTheHeaderNameIgnoringCaseButNeedsTheBlank) {
    std::string area;
    feed(area, "etag: W/\"v1\"\r\n");
    EXPECT_EQ(area, "etag: W/\"v1\"\r");
    feed(area, "ETAG: \"v2\"\n");
    EXPECT_EQ(area, "ETAG: \"v2\"");
    feed(area, "ETag:\"v3\"\r\n");
    feed(area, "X-ETag: \"v4\"\r\n");
    feed(area, "ETa");
    EXPECT_EQ(area, "ETAG: \"v2\"");
}

TEST(CaptureValidator, EachResponseOfARedirectChainStartsEmpty) {
    std::string area;
    feed(area, "HTTP/1.1 302 Found\r\n");
    feed(area, "ETag: \"hop\"\r\n");
    feed(area, "Location: /final\r\n");
    feed(area, "\r\n");
    EXPECT_EQ(area, "ETag: \"hop\"\r");
    feed(area, "HTTP/2 200\r\n");
    EXPECT_EQ(area, "");
    feed(area, "content-type: application/zip\r\n");
    EXPECT_EQ(area, "");
    feed(area, "HTTP/1.1 301 Moved\r\n");
    feed(area, "HTTP/1.1 200 OK\r\n");
    feed(area, "ETag: \"final\"\r\n");
    EXPECT_EQ(area, "ETag: \"final\"\r");
}

TEST(CaptureValidator, LongLinesAreKeptWholeUpToTheCap) {
    std::string area;
    const std::string longTag = "ETag: \"" + std::string(200, 'a') + "\"\r";
    feed(area, longTag + "\n");
    EXPECT_EQ(area, longTag);
    const std::string atCap = "ETag: " + std::string(setup::kMaxValidatorLength - 6, 'b');
    feed(area, atCap + "\n");
    EXPECT_EQ(area, atCap);
    feed(area, "ETag: " + std::string(setup::kMaxValidatorLength, 'c') + "\r\n");
    EXPECT_EQ(area, "");
}

TEST(Validator, StoredValidatorMatchesOnlyItself) {
    TempDir dir;
    const std::string base = dir.path() + "/";
    const std::string tag = "ETag: \"" + std::string(100, 'x') + "1\"\r";
    EXPECT_FALSE(validatorMatches(base, tag));  // no file yet
    storeValidator(base, tag);
    EXPECT_EQ(setup_test::readFile(dir / ".validatestring"), tag);
    EXPECT_TRUE(validatorMatches(base, tag));

    // Same first 63 bytes, different afterwards: must not match.
    std::string other = tag;
    other[other.size() - 3] = '2';
    EXPECT_FALSE(validatorMatches(base, other));
    EXPECT_FALSE(validatorMatches(base, tag.substr(0, tag.size() - 1)));
    EXPECT_FALSE(validatorMatches(base, tag + "x"));
}

TEST(Validator, OnlyTheFirstLineOfTheFileCounts) {
    TempDir dir;
    const std::string base = dir.path() + "/";
    setup_test::writeFile(dir / ".validatestring", "ETag: \"a\"\r\nETag: \"b\"\r");
    EXPECT_TRUE(validatorMatches(base, "ETag: \"a\"\r"));
    EXPECT_FALSE(validatorMatches(base, "ETag: \"b\"\r"));
}

TEST(Validator, EmptyValidatorIsNeverStoredNorMatched) {
    TempDir dir;
    const std::string base = dir.path() + "/";
    storeValidator(base, "ETag: \"keep\"");
    storeValidator(base, "");
    storeValidator("", "ETag: \"elsewhere\"");
    EXPECT_EQ(setup_test::readFile(dir / ".validatestring"), "ETag: \"keep\"");
    setup_test::writeFile(dir / ".validatestring", "");
    EXPECT_FALSE(validatorMatches(base, ""));
}

TEST(Validator, AVerifiedAgentIsRecordedWithItsKeysFingerprint) {
    TempDir dir;
    const std::string base = dir.path() + "/";
    const std::string tag = "ETag: \"v1\"\r";
    const std::string key = std::string(32, 'a') + std::string(32, '7');
    ASSERT_TRUE(storeValidator(base, tag, key));
    EXPECT_EQ(setup_test::readFile(dir / ".validatestring"), tag + "\n" + key);
    EXPECT_TRUE(validatorMatches(base, tag, key));
    EXPECT_FALSE(validatorMatches(base, tag, std::string(32, 'a') + std::string(32, '8')));
    EXPECT_FALSE(validatorMatches(base, tag, key + "0"));
    EXPECT_FALSE(validatorMatches(base, tag, key.substr(1)));
    EXPECT_FALSE(validatorMatches(base, "ETag: \"v2\"\r", key));
    // A release that pins no key reads the validator line only.
    EXPECT_TRUE(validatorMatches(base, tag));

    // Unsigned again: the same layout as ever, and no key is claimed.
    ASSERT_TRUE(storeValidator(base, tag));
    EXPECT_EQ(setup_test::readFile(dir / ".validatestring"), tag);
    EXPECT_FALSE(validatorMatches(base, tag, key));
    EXPECT_TRUE(validatorMatches(base, tag));
    EXPECT_EQ(setup_test::shellOutput("ls -A '" + dir.path() + "'"), ".validatestring\n");
}

}  // namespace
