// The pages of README.md and docs/ as the documentation tests read them, and a sandbox that
// runs what they tell a reader to run: a folder of its own where build/normal is this tree,
// with the sources beside it.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace docs {

// The source checkout and this build tree.
std::string SourceDir();
std::string TreeDir();
// A file of the source checkout by its relative path; "" when missing.
std::string ReadSource(const std::string& relative);

// A fenced block of a page: its info string ("sh", "output", "text", a file name) and lines.
struct Block {
    std::string page;
    int line = 0;  // of the opening fence, from 1
    std::string info;
    std::vector<std::string> lines;
};
std::vector<Block> Blocks(const std::string& page);

// Inline code spans outside blocks, with their line numbers.
struct Span {
    int line;
    std::string text;
};
std::vector<Span> InlineCode(const std::string& page);

// True when every line of `expected` matches a line of `output`, in order; "…" in an
// expected line stands for any text, and blanks at either end do not count. `why` names the
// first line not found.
bool HoldsInOrder(const std::string& output, const std::vector<std::string>& expected, std::string* why);

// A port nobody listens on at the moment of asking.
int FreePort();
// True when something accepts connections on 127.0.0.1:`port`.
bool Listening(int port);

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& path() const { return path_; }
    // The folder's program folder (a copy of the tree's, files linked) and its registry file.
    std::string Dist() const { return path_ + "/build/normal/dist"; }
    std::string RegistryFile() const { return path_ + "/home/.local/share/lumeo/registry.db"; }
    std::string Read(const std::string& relative) const;

    // Runs `script` with bash in the folder, the environment of a reader's shell here (its
    // own HOME, runtime folder, no display) plus `env`; its exit status, or -1 when it had
    // not ended after `limitMs` (everything it started is then killed). Standard output and
    // error go to `output`. What the script leaves running in the background ends with it,
    // or with `leaveRunning` goes on, as in a reader's shell, until the sandbox ends.
    int Run(const std::string& script, const std::map<std::string, std::string>& env, int limitMs,
            std::string* output, bool leaveRunning = false) const;

private:
    std::string path_;
    mutable std::vector<int> groups_;  // of the scripts whose background work goes on
    mutable int runs_ = 0;
};

}  // namespace docs
