// Unpacking the payload appended to the installer's file, and the agent's
// command line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "file_utils.hpp"
#include "payload.hpp"
#include "shell_utils.hpp"
#include "test_support.hpp"

using setup::extractPayloadFrom;
using setup_test::exists;
using setup_test::TempDir;

namespace {

// Builds dir/setup: the real installer stub followed by a ZIP of files,
// with the archive's offsets fitted to the whole file when adjust is set.
std::string buildInstaller(const TempDir& dir,
                           const std::vector<std::pair<std::string, std::string>>& files,
                           bool adjust = true) {
    const std::string archive = dir / "payload.zip";
    EXPECT_TRUE(setup_test::makeZip(archive, files));
    const std::string installer = dir / "setup";
    std::string command = "cat '" SETUP_STUB_PATH "' '" + archive + "' > '" + installer + "'";
    if (adjust) command += " && zip -qA '" + installer + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return installer;
}

void truncateBy(const std::string& path, long bytes) {
    const std::string content = setup_test::readFile(path);
    setup_test::writeFile(path, content.substr(0, content.size() - static_cast<size_t>(bytes)));
}

TEST(ExtractPayload, UnpacksTheBundleFromAnInstallerFile) {
    TempDir dir;
    const std::string installer = buildInstaller(dir, {{"bundle.zip", "the bundle"}});
    TempDir work;
    EXPECT_EQ(extractPayloadFrom(installer, work.path()), 0);
    EXPECT_EQ(setup_test::readFile(work / "bundle.zip"), "the bundle");
}

TEST(ExtractPayload, WarningsAloneStillPass) {
    // Offsets not fitted: unzip warns about leading bytes (status 1) but
    // extracts everything.
    TempDir dir;
    const std::string installer = buildInstaller(dir, {{"bundle.zip", "the bundle"}}, false);
    TempDir work;
    EXPECT_EQ(extractPayloadFrom(installer, work.path()), 0);
    EXPECT_EQ(setup_test::readFile(work / "bundle.zip"), "the bundle");
}

TEST(ExtractPayload, TruncatedOrCorruptedInstallerFails) {
    TempDir dir;
    const std::string installer =
        buildInstaller(dir, {{"bundle.zip", std::string(5000, 'b')}, {"readme", "x"}});
    truncateBy(installer, 40);
    TempDir work;
    EXPECT_EQ(extractPayloadFrom(installer, work.path()), setup::kPayloadFailure);

    // Intact directory, damaged data: unzip reports a CRC error (status 2).
    const std::string good = buildInstaller(dir, {{"bundle.zip", std::string(5000, 'b')}});
    std::string content = setup_test::readFile(good);
    const size_t data = content.find(std::string(100, 'b'));
    ASSERT_NE(data, std::string::npos);
    content[data + 10] = 'X';
    setup_test::writeFile(good, content);
    TempDir work2;
    EXPECT_EQ(extractPayloadFrom(good, work2.path()), setup::kPayloadFailure);
}

TEST(ExtractPayload, ArchiveWithoutBundleOrMissingFileFails) {
    TempDir dir;
    const std::string installer = buildInstaller(dir, {{"other.txt", "x"}});
    TempDir work;
    EXPECT_EQ(extractPayloadFrom(installer, work.path()), setup::kPayloadFailure);
    EXPECT_EQ(extractPayloadFrom("", work.path()), setup::kPayloadFailure);
    EXPECT_EQ(extractPayloadFrom(dir / "missing", work.path()), setup::kPayloadFailure);
}

TEST(ExtractPayload, WorkDirectoryWithBlanksAndShellCharacters) {
    TempDir dir;
    const std::string installer = buildInstaller(dir, {{"bundle.zip", "bundle"}});
    const std::string work = dir / "work $(echo x) 'q' y";
    ASSERT_EQ(setup::makeDirectories(work, 0700), 0);
    EXPECT_EQ(extractPayloadFrom(installer, work), 0);
    EXPECT_TRUE(exists(work + "/bundle.zip"));
    EXPECT_FALSE(exists(dir / "work"));
}

class LaunchAgent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(setup::makeDirectories(dir_ / "agent dir", 0700), 0);
        launcher_ = dir_ / "agent dir/install";
        setup_test::writeFile(launcher_, setup_test::argumentRecorderScript(dir_ / "received"));
    }

    std::string launch(std::vector<std::string> args, const std::string& workDir) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::string command = "sh " + setup::quoteArgument(launcher_);
        setup_test::clearReports();
        EXPECT_EQ(setup::launchAgent(command, workDir, static_cast<int>(args.size()), argv.data(),
                                     setup_test::captureReport),
                  setup::LaunchOutcome::Ran);
        EXPECT_TRUE(setup_test::reports.empty());
        return command;
    }

    TempDir dir_;
    std::string launcher_;
};

TEST_F(LaunchAgent, PlainArgumentsKeepTheirSpelling) {
    const std::string command = launch({"setup", "a", "b"}, "/tmp/zqAb12Cd");
    EXPECT_EQ(command, "sh \"" + launcher_ + "\" -installbundle /tmp/zqAb12Cd/bundle.zip a b ");
    EXPECT_EQ(setup_test::readFile(dir_ / "received"),
              "-installbundle\n/tmp/zqAb12Cd/bundle.zip\na\nb\n");

    const std::string bare = launch({"setup"}, "/w");
    EXPECT_EQ(bare, "sh \"" + launcher_ + "\" -installbundle /w/bundle.zip");
}

TEST_F(LaunchAgent, EveryArgumentArrivesAsReceived) {
    const std::string marker = dir_ / "pwned";
    const std::vector<std::string> args = {"setup",
                                           "a b",
                                           "",
                                           "$HOME",
                                           "x; touch " + marker,
                                           "it's",
                                           "*",
                                           "line\nbreak",
                                           "`touch " + marker + "`"};
    const std::string work = dir_ / "work dir";
    launch(args, work);
    std::string expected = "-installbundle\n" + work + "/bundle.zip\n";
    for (size_t i = 1; i < args.size(); ++i) expected += args[i] + "\n";
    EXPECT_EQ(setup_test::readFile(dir_ / "received"), expected);
    EXPECT_FALSE(exists(marker));
}

TEST_F(LaunchAgent, FailingAgentStillCountsAsLaunched) {
    setup_test::writeFile(launcher_, "exit 7\n");
    launch({"setup", "x"}, "/w");
}

TEST_F(LaunchAgent, CommandLineTooLongForTheShellIsNotStarted) {
    // Many short arguments that together pass the one-argument limit of
    // "sh -c": each fits, the joined line does not.
    std::vector<std::string> args = {"setup"};
    while (args.size() * 50 < 140000) args.push_back(std::string(49, 'a'));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string command = "sh " + setup::quoteArgument(launcher_);
    setup_test::clearReports();
    EXPECT_EQ(setup::launchAgent(command, "/w", static_cast<int>(args.size()), argv.data(),
                                 setup_test::captureReport),
              setup::LaunchOutcome::NotStarted);
    ASSERT_EQ(setup_test::reports.size(), 1u);
    const std::string expected = "The install agent cannot be started: its command line of " +
                                 std::to_string(command.size()) +
                                 " bytes is longer than the system allows (" +
                                 std::to_string(setup::longestShellCommand()) + " bytes).";
    EXPECT_EQ(setup_test::reports[0], expected);
    EXPECT_FALSE(exists(dir_ / "received"));
    EXPECT_LE(setup::longestShellCommand(), 131071u);
}

}  // namespace
