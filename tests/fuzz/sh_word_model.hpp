// A small, independent model of how POSIX sh splits and unquotes the argument
// words of a simple command, for checking that quoted text survives the shell.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace fuzz {

// The fields that `sh -c "cmd TEXT"` would pass to cmd for TEXT, when TEXT
// uses only quoting (single quotes, double quotes, backslashes) and plain
// characters. Anything the shell would act on instead of passing through
// (expansions, operators, globbing, comments, tilde, an unterminated quote or
// a newline ending the command) yields nothing: such text is unsafe.
std::optional<std::vector<std::string>> shellFields(const std::string& text);

}  // namespace fuzz
