// The linked installer as a user runs it: exit status, messages, the agent's
// arguments and the clean-up of its workspace.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "shell_utils.hpp"
#include "test_support.hpp"

using setup::quoteArgument;
using setup_test::exists;
using setup_test::readFile;
using setup_test::TempDir;

namespace {

class InstallerProgram : public ::testing::Test {
protected:
    void SetUp() override {
        // The payload carries its own agent, so no download is involved.
        const std::string agent = dir_ / "InstallAgent.zip";
        const std::string script = setup_test::argumentRecorderScript(dir_ / "received");
        ASSERT_TRUE(setup_test::makeZip(agent, {{"install", script}}));
        ASSERT_TRUE(
            setup_test::makeZip(dir_ / "payload.zip",
                                {{"bundle.zip", "bundle"}, {"InstallAgent.zip", readFile(agent)}}));
        installer_ = dir_ / "setup";
        ASSERT_TRUE(setup_test::appendPayload(SETUP_STUB_PATH, dir_ / "payload.zip", installer_));
    }

    // Runs the installer with the given (already quoted) arguments; returns
    // its exit status.
    int run(const std::string& arguments) {
        const std::string command = "HOME=" + quoteArgument(home_.path()) +
                                    " ZQ_INTERNAL_INSTALL_AGENT_URL=http://127.0.0.1:9/ " +
                                    quoteArgument(installer_) + " " + arguments + " >" +
                                    quoteArgument(dir_ / "out") + " 2>" +
                                    quoteArgument(dir_ / "err");
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir dir_, home_;
    std::string installer_;
};

TEST_F(InstallerProgram, RunsThePayloadAgentWithTheArgumentsAsGiven) {
    EXPECT_EQ(run("plain 'a b' '' '$HOME' 'x;y'"), 0);
    EXPECT_EQ(readFile(dir_ / "out"), "");
    EXPECT_EQ(readFile(dir_ / "err"), "");
    const std::string received = readFile(dir_ / "received");
    const std::string prefix = "-installbundle\n/tmp/zq";
    ASSERT_EQ(received.rfind(prefix, 0), 0u) << received;
    const std::string bundle = received.substr(15, received.find('\n', 15) - 15);
    EXPECT_EQ(bundle.substr(bundle.size() - 11), "/bundle.zip");
    EXPECT_EQ(received.substr(15 + bundle.size()), "\nplain\na b\n\n$HOME\nx;y\n");
    // The workspace is gone once the agent has returned.
    EXPECT_FALSE(exists(bundle.substr(0, bundle.size() - 11)));
}

TEST_F(InstallerProgram, PayloadWithUnfittedOffsetsInstallsSilently) {
    // unzip only warns about the leading executable image here.
    const std::string command =
        "cat '" SETUP_STUB_PATH "' '" + (dir_ / "payload.zip") + "' > '" + installer_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(run(""), 0);
    EXPECT_EQ(readFile(dir_ / "err"), "");
    EXPECT_TRUE(exists(dir_ / "received"));
}

TEST_F(InstallerProgram, TruncatedInstallerFailsWithoutStartingTheAgent) {
    const std::string content = readFile(installer_);
    setup_test::writeFile(installer_, content.substr(0, content.size() - 30));
    EXPECT_EQ(run("x"), 255);
    // Only the installer's own sentences: unzip's complaints stay hidden.
    EXPECT_EQ(readFile(dir_ / "err"),
              "Internal error: Failed to initialize application installer (201)\n"
              "Installation failed.\n");
    EXPECT_FALSE(exists(dir_ / "received"));
}

}  // namespace
