// Shell words must reach the command as exactly the bytes they started as.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "shell_utils.hpp"
#include "test_support.hpp"

using setup::joinArguments;
using setup::quoteArgument;
using setup_test::shellOutput;

namespace {

const std::vector<std::string>& hostileStrings() {
    static const std::vector<std::string> strings = {
        "it's",
        "'",
        "''",
        "'\\''",
        "\"dq\"",
        "say \"hi\"",
        "$HOME",
        "${HOME}",
        "`id`",
        "$(id)",
        "back\\slash",
        "semi;colon",
        "amp&",
        "a&&b",
        "pipe|",
        "<in",
        ">out",
        "2>&1",
        "*",
        "?",
        "[ab]",
        "#hash",
        "~",
        "~root",
        "a~b",
        "(paren)",
        "{a,b}",
        "!bang",
        "=eq",
        "a=b",
        "line\nbreak",
        "trailing\n",
        "\n",
        "cr\r",
        "tab\tand'quote",
        "blank and $dollar",
        "\xff\xfe\x80 not utf-8",
        "caf\xc3\xa9",
        "-n",
        "%s%d",
        "--",
        " leading",
        "trailing ",
        "  ",
        "\t",
        "a\\",
        "\\",
        "x'\"$`\\y",
        "\x01\x1b[31m",
    };
    return strings;
}

TEST(QuoteArgument, KeepsOrdinaryStringsAsBefore) {
    EXPECT_EQ(quoteArgument("ab"), "ab");
    EXPECT_EQ(quoteArgument(""), "");
    EXPECT_EQ(quoteArgument("a b"), "\"a b\"");
    EXPECT_EQ(quoteArgument("a\tb"), "\"a\tb\"");
    EXPECT_EQ(quoteArgument("/opt/dl/setup"), "/opt/dl/setup");
    EXPECT_EQ(quoteArgument("/opt/my dl/setup"), "\"/opt/my dl/setup\"");
    EXPECT_EQ(quoteArgument("/tmp/zqAb12Cd/bundle.zip"), "/tmp/zqAb12Cd/bundle.zip");
    EXPECT_EQ(quoteArgument("-installbundle"), "-installbundle");
    EXPECT_EQ(quoteArgument("a-b_c.d/e,f:g+h@i%j=k"), "a-b_c.d/e,f:g+h@i%j=k");
}

TEST(QuoteArgument, WrapsSpecialCharactersInSingleQuotes) {
    EXPECT_EQ(quoteArgument("$HOME"), "'$HOME'");
    EXPECT_EQ(quoteArgument("it's"), "'it'\\''s'");
    EXPECT_EQ(quoteArgument("a b$c"), "'a b$c'");
}

TEST(QuoteArgument, HostileStringsReachTheShellUnchanged) {
    for (const std::string& s : hostileStrings()) {
        EXPECT_EQ(shellOutput("printf %s " + quoteArgument(s)), s) << "word: " << s;
    }
}

TEST(QuoteArgument, EveryByteValueSurvivesTheShell) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(shellOutput("printf %s " + quoteArgument(all)), all);
    for (int c = 1; c < 256; ++c) {
        const std::string s = std::string("x") + static_cast<char>(c) + "y";
        EXPECT_EQ(shellOutput("printf %s " + quoteArgument(s)), s) << "byte " << c;
    }
}

TEST(JoinArguments, SpellsPlainArgumentsAsBefore) {
    char prog[] = "setup", x[] = "x", y[] = "y";
    char* argv[] = {prog, x, y, nullptr};
    EXPECT_EQ(joinArguments(3, argv), "x y ");
    EXPECT_EQ(joinArguments(1, argv), "");
    EXPECT_EQ(joinArguments(0, argv), "");
}

TEST(JoinArguments, EachArgumentStaysOneWord) {
    std::vector<std::string> args = {"setup", "a b",         "", "$HOME", "x;rm -rf y",
                                     "it's",  "line\nbreak", "*"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string joined = joinArguments(static_cast<int>(args.size()), argv.data());
    EXPECT_EQ(joined.substr(0, 10), "\"a b\" '' '");
    std::string expected;
    for (size_t i = 1; i < args.size(); ++i) expected += "<" + args[i] + ">";
    EXPECT_EQ(shellOutput("printf '<%s>' " + joined), expected);
}

TEST(RunShellCommand, ReturnsTheRawWaitStatus) {
    int status = setup::runShellCommand("exit 3");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    status = setup::runShellCommand("kill -TERM $$");
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(setup::runShellCommand("true"), 0);
}

}  // namespace
