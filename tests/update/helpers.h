// Shared pieces of the update tests: temporary program folders, programs run as child
// processes with bounded waits, and cabinets made with gcab.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace updtest {

// A fresh folder, removed at the end.
class TempTree {
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    const std::string& path() const { return path_; }
    std::string At(const std::string& relative) const { return path_ + "/" + relative; }
    // The phone's form of a path under the folder (backslashes).
    std::wstring Phone(const std::string& relative) const;
    std::string Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;
    void Write(const std::string& relative, const std::string& bytes, int mode = 0644) const;

private:
    std::string path_;
};

std::string ReadAll(const std::string& path);
// Every file and link under `dir` (relative path -> bytes, or "-> target" for a link).
std::map<std::string, std::string> Snapshot(const std::string& dir);
// The output of a shell command, standard error included.
std::string Shell(const std::string& command);

// A program started with `args` (argv[0] first) and extra environment entries "NAME=value"
// (an entry "NAME" alone removes the variable). With `ownGroup` it leads a process group of
// its own, which the programs it starts join.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env = {}, bool ownGroup = false);
// Ends a process group made by Spawn, whatever of it still runs.
void KillGroup(pid_t leader);
// Its exit status once it ends, or -1 when it has not ended within `ms` (it is killed then).
int WaitExit(pid_t pid, int ms);
// True while the process runs (it is not reaped).
bool Running(pid_t pid);
// Waits until `done` holds or `ms` pass; the last value of `done`.
bool WaitFor(int ms, const std::function<bool()>& done);

// Makes a cabinet of the files `names` (relative to `dir`) with gcab (-z: compressed).
// False when gcab failed.
bool MakeCab(const std::string& dir, const std::vector<std::string>& names, const std::string& cab, bool compress);
// Replaces the first occurrence of `from` in the bytes by `to` (same length). False when absent.
bool Patch(std::string& bytes, const std::string& from, const std::string& to);

}  // namespace updtest
