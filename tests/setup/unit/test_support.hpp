// Helpers shared by the installer's unit tests: private temp directories,
// scoped environment changes, captured messages and small file and shell
// utilities.
#pragma once

#include <string>
#include <vector>

namespace setup_test {

// A fresh directory from mkdtemp, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or unsets, with nullptr) an environment variable until destroyed.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool hadValue_;
    std::string oldValue_;
};

// Messages passed to captureReport since the last clearReports().
extern std::vector<std::string> reports;
void captureReport(const std::string& text, bool toError);
void clearReports();

// A pseudo-terminal pair, closed at the end: code under test writes to
// `terminal` as to a user's terminal; the test reads what it showed from
// `master`. `ok()` is false when the machine gives none.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    bool ok() const { return master >= 0 && terminal >= 0; }
    // Everything shown on the terminal so far, without waiting.
    std::string shown() const;
    // Closes the terminal side, so that the code under test's output ends.
    void closeTerminal();

    int master = -1;
    int terminal = -1;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool exists(const std::string& path);

// Runs a command line through /bin/sh and returns its standard output.
std::string shellOutput(const std::string& command);

// Writes a ZIP archive at zipPath holding the given files (name, content)
// stored without compression, so tests can find and damage the data;
// returns true on success.
bool makeZip(const std::string& zipPath,
             const std::vector<std::pair<std::string, std::string>>& files);

// Writes installer = stub followed by the ZIP archive, with the archive's
// offsets moved by the stub's size so that they count from the start of the
// whole file (as zip -A does, which trips over archives nested in the
// payload). Returns false when the archive has no plain end record.
bool appendPayload(const std::string& stub, const std::string& archive,
                   const std::string& installer);

// A launcher script that writes each argument it receives on its own line
// into outFile.
std::string argumentRecorderScript(const std::string& outFile);

}  // namespace setup_test
