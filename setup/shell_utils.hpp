// Spelling of shell words and command lines, and the single entry point
// through which the installer runs external commands.
#pragma once

#include <string>

namespace setup {

// Returns s as one shell word that /bin/sh turns back into exactly the bytes
// of s. Plain words come back unchanged, words whose only special characters
// are blanks or tabs are put in double quotes, anything else in single
// quotes. The empty string comes back empty.
std::string quoteArgument(const std::string& s);

// s between single quotes, each ' inside written as '\'' : one shell word
// holding exactly the bytes of s, whatever they are.
std::string singleQuoted(const std::string& s);

// quoteArgument, except that the empty string becomes '' so that it survives
// as an (empty) word of its own.
std::string shellWord(const std::string& s);

// argv[1] .. argv[argc-1], each as one shell word followed by a blank.
std::string joinArguments(int argc, char** argv);

// Appended to commands whose own chatter must not reach the user: the
// installer speaks in its own sentences, and a prompt nobody can see or
// answer must not hold the run.
inline constexpr char kSilently[] = " </dev/null >/dev/null 2>&1";

// Whose status a command's wait status is: one of the installer's own
// tools (unzip, rm), or the agent, whose status never matters.
enum class ShellChild { tool, agent };

// Runs the command line through system(); returns its wait status unchanged.
// Before and after it, the run stops if a signal was noted (see
// interruption.hpp); a tool ended by Ctrl-C counts as such a signal.
int runShellCommand(const std::string& command, ShellChild child = ShellChild::tool);

}  // namespace setup
