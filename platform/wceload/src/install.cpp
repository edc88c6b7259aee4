// The installer's work: checking a cabinet whole, installing it all or nothing, and
// mending what an install cut short left behind.
//
// An install keeps its state on disk in its staging folder ".wceload-XXXXXX" in the
// program folder: the members' checked bytes (m<i>), hard links to the files they replace
// (b<i>) and a journal. The journal lists every member and every folder to be made; it is
// made durable before the program folder changes at all, and "done" is added once every
// file is in place. A staging folder found later (the installer was killed, the battery
// died) is mended by its journal: without a whole journal nothing had changed, without
// "done" the old files are put back, with it the install is complete. Either way the
// folder is removed and a line says what was done.
#include "platform/wceload.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace platform::wceload {
namespace {

// Far more than a package of the program holds; a cabinet claiming more is refused.
constexpr size_t kMaxMembers = 4096;
constexpr unsigned long long kMaxBytes = 1ull << 30;
// How long a running Lumeo is given to end; LUMEO_WCELOAD_WAIT (seconds) changes it.
constexpr int kDefaultWaitSeconds = 30;
// The staging folders: this prefix and mkdtemp's six characters.
const char kStagingPrefix[] = ".wceload-";
const char kJournalHeader[] = "wceload journal 1";
// A journal is a few hundred bytes a member; one larger than this is none of ours.
constexpr off_t kMaxJournal = 16 << 20;

struct Member {
    std::string name;      // as the cabinet has it, for messages
    std::string relative;  // cleaned, '/'-separated, inside the program folder
    std::string staged;    // its checked bytes, waiting in the staging folder
    std::string backup;    // the replaced file (a hard link), or "" for a new file
    bool existed = false;  // a file stood at its place when the install began
};

// What a journal says of its install.
struct Plan {
    enum State { kNotBegun, kPlanned, kDone } state = kNotBegun;
    std::string package;
    std::vector<std::string> dirs;  // made by the install, parents first
    std::vector<Member> members;
};

std::string Errno(int err) { return std::strerror(err); }

bool IsDir(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// A test hook that kills the installer at a chosen point of its work, as a flat battery
// would: LUMEO_WCELOAD_FAULT="<point>:<n>" with the points "stage" (after n members are
// staged), "journal" (n bytes into writing the journal), "replace" (after n files are
// replaced), "done" (once the journal says done) and "undo" (after n files are put back).
size_t FaultAt(const char* point) {
    const char* v = std::getenv("LUMEO_WCELOAD_FAULT");
    size_t len = std::strlen(point);
    if (!v || std::strncmp(v, point, len) != 0 || v[len] != ':') return SIZE_MAX;
    return static_cast<size_t>(std::strtoull(v + len + 1, nullptr, 10));
}

void FaultPoint(const char* point, size_t n) {
    if (FaultAt(point) == n) ::raise(SIGKILL);
}

// Flushes everything written to the program folder's file system so far: what comes
// after must not reach the disk before it.
void Barrier(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::syncfs(fd);
    ::close(fd);
}

bool WriteAll(int fd, const char* data, size_t n) {
    for (size_t off = 0; off < n;) {
        ssize_t w = ::write(fd, data + off, n - off);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

// The member's path inside the program folder; false with the reason when it has none.
bool CleanName(const std::string& name, std::string* out, std::string* why) {
    if (name.empty()) {
        *why = "a member has no name";
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            *why = "member name with control characters";
            return false;
        }
    }
    if (name[0] == '\\' || name[0] == '/' || (name.size() >= 2 && name[1] == ':')) {
        *why = "absolute member path: " + name;
        return false;
    }
    std::string cleaned;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            *why = "member path with \"..\": " + name;
            return false;
        }
        if (!cleaned.empty()) cleaned += '/';
        cleaned += part;
    }
    if (cleaned.empty()) {
        *why = "member without a file name: " + name;
        return false;
    }
    *out = cleaned;
    return true;
}

bool Inside(const std::string& root, const std::string& path) {
    if (root == "/") return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

// Every folder on the way to the member that exists must be a folder inside the program
// folder once links are followed; the member itself must not be a folder.
bool CheckTarget(const std::string& root, const Member& m, std::string* why) {
    std::string path = root;
    size_t start = 0;
    for (;;) {
        size_t end = m.relative.find('/', start);
        bool last = end == std::string::npos;
        path += "/" + m.relative.substr(start, last ? std::string::npos : end - start);
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return true;  // the rest is made on installing
            *why = "cannot look at " + path + ": " + Errno(errno);
            return false;
        }
        if (last) {
            if (S_ISDIR(st.st_mode)) {
                *why = "member would replace a folder: " + m.name;
                return false;
            }
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (!::realpath(path.c_str(), resolved) || !Inside(root, resolved)) {
                *why = "member leads out of the program folder through a link: " + m.name;
                return false;
            }
            if (!IsDir(resolved)) {
                *why = "member path runs through a file: " + m.name;
                return false;
            }
        } else if (!S_ISDIR(st.st_mode)) {
            *why = "member path runs through a file: " + m.name;
            return false;
        }
        start = end + 1;
    }
}

// Reads the whole cabinet into the staging folder; nothing of the program folder changes.
bool Stage(const std::string& package, const std::string& staging, std::vector<Member>* members, std::string* why) {
    struct archive* a = archive_read_new();
    archive_read_support_format_cab(a);
    struct Closer {
        struct archive* a;
        ~Closer() { archive_read_free(a); }
    } closer{a};
    if (archive_read_open_filename(a, package.c_str(), 64 * 1024) != ARCHIVE_OK) {
        *why = std::string("not a cabinet: ") + (archive_error_string(a) ? archive_error_string(a) : "unreadable");
        return false;
    }
    std::set<std::string> seen;
    unsigned long long total = 0;
    std::vector<char> buf(64 * 1024);
    for (;;) {
        struct archive_entry* e = nullptr;
        int r = archive_read_next_header(a, &e);
        if (r == ARCHIVE_EOF) break;
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
            *why = std::string("damaged cabinet: ") + (archive_error_string(a) ? archive_error_string(a) : "bad header");
            return false;
        }
        if (members->size() >= kMaxMembers) {
            *why = "more than " + std::to_string(kMaxMembers) + " members";
            return false;
        }
        const char* raw = archive_entry_pathname_utf8(e);
        if (!raw) {
            *why = "a member name cannot be read";
            return false;
        }
        Member m;
        m.name = raw;
        if (!CleanName(m.name, &m.relative, why)) return false;
        if (Lower(m.relative).rfind(kStagingPrefix, 0) == 0) {
            *why = "member in the installer's own folder: " + m.name;
            return false;
        }
        if (archive_entry_filetype(e) != AE_IFREG) {
            *why = "member is not a file: " + m.name;
            return false;
        }
        // The phone's file system takes names without regard to case: such two are one file.
        if (!seen.insert(Lower(m.relative)).second) {
            *why = "member appears twice: " + m.name;
            return false;
        }
        m.staged = staging + "/m" + std::to_string(members->size());
        int fd = ::open(m.staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            *why = "cannot stage " + m.name + ": " + Errno(errno);
            return false;
        }
        bool ok = true;
        for (;;) {
            la_ssize_t n = archive_read_data(a, buf.data(), buf.size());
            if (n == 0) break;
            if (n < 0) {
                *why = std::string("damaged cabinet: ") + (archive_error_string(a) ? archive_error_string(a) : "bad data");
                ok = false;
                break;
            }
            total += static_cast<unsigned long long>(n);
            if (total > kMaxBytes) {
                *why = "members larger than " + std::to_string(kMaxBytes >> 20) + " MiB in all";
                ok = false;
                break;
            }
            for (la_ssize_t off = 0; ok && off < n;) {
                ssize_t w = ::write(fd, buf.data() + off, static_cast<size_t>(n - off));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    *why = "cannot stage " + m.name + ": " + Errno(errno);
                    ok = false;
                }
                off += w > 0 ? w : 0;
            }
            if (!ok) break;
        }
        if (::close(fd) != 0 && ok) {
            *why = "cannot stage " + m.name + ": " + Errno(errno);
            ok = false;
        }
        if (!ok) return false;
        members->push_back(std::move(m));
        FaultPoint("stage", members->size());
    }
    if (members->empty()) {
        *why = "the cabinet holds no files";
        return false;
    }
    return true;
}

// Processes whose program is <root>/Lumeo.
bool LumeoRunning(const std::string& root) {
    std::string exe = root + "/Lumeo";
    DIR* d = ::opendir("/proc");
    if (!d) return false;
    bool found = false;
    while (dirent* e = ::readdir(d)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (*end || pid <= 0 || pid == ::getpid()) continue;
        char buf[PATH_MAX];
        ssize_t n = ::readlink(("/proc/" + std::string(e->d_name) + "/exe").c_str(), buf, sizeof buf - 1);
        if (n <= 0) continue;
        std::string target(buf, static_cast<size_t>(n));
        const std::string deleted = " (deleted)";
        if (target.size() > deleted.size() && target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
            target.resize(target.size() - deleted.size());
        if (target == exe) {
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

int WaitSeconds() {
    if (const char* v = std::getenv("LUMEO_WCELOAD_WAIT"); v && *v) {
        char* end = nullptr;
        long s = std::strtol(v, &end, 10);
        if (!*end && s >= 0 && s <= 3600) return static_cast<int>(s);
    }
    return kDefaultWaitSeconds;
}

// The installation lock of a program folder (one installation at a time), had within
// `seconds`; the descriptor, or -1.
int Lock(const std::string& root, int seconds) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return fd;
}

std::string JournalText(const Plan& plan) {
    std::string t = std::string(kJournalHeader) + "\npackage " + plan.package + "\n";
    for (const std::string& d : plan.dirs) t += "dir " + d + "\n";
    for (size_t i = 0; i < plan.members.size(); ++i)
        t += "file " + std::to_string(i) + (plan.members[i].existed ? " 1 " : " 0 ") + plan.members[i].relative + "\n";
    t += "end " + std::to_string(plan.members.size()) + " " + std::to_string(plan.dirs.size()) + "\n";
    return t;
}

// Writes the journal and makes it durable, and with it every staged byte: nothing of the
// program folder may change before.
bool WriteJournal(const std::string& staging, const std::string& text, std::string* why) {
    int fd = ::open((staging + "/journal").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *why = "cannot write the journal: " + Errno(errno);
        return false;
    }
    if (size_t cut = FaultAt("journal"); cut < text.size()) {
        WriteAll(fd, text.data(), cut);
        ::raise(SIGKILL);
    }
    bool ok = WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) ok = false, err = errno;
    if (!ok) {
        *why = "cannot write the journal: " + Errno(err);
        return false;
    }
    Barrier(staging);
    return true;
}

// The journal of the staging folder `staging`. Only a journal whole up to its "end" line
// tells of an install that may have changed files: the install changes nothing before
// its journal is whole on disk, so a journal cut short (or none) means nothing was done.
Plan ReadJournal(const std::string& staging) {
    Plan plan;
    int fd = ::open((staging + "/journal").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return plan;
    struct stat st{};
    std::string text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxJournal) {
        text.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < text.size()) {
            ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        text.resize(got);
    }
    ::close(fd);
    // Whole lines only: a write cut short leaves its last line without LF.
    std::vector<std::string> lines;
    for (size_t at = 0, lf; (lf = text.find('\n', at)) != std::string::npos; at = lf + 1)
        lines.push_back(text.substr(at, lf - at));
    if (lines.size() < 2 || lines[0] != kJournalHeader || lines[1].rfind("package ", 0) != 0) return plan;
    plan.package = lines[1].substr(8);
    Plan read = plan;
    // A path as the install wrote it: cleaned and inside the folder.
    auto path = [](const std::string& text, std::string* out) {
        std::string why;
        return CleanName(text, out, &why) && *out == text;
    };
    size_t i = 2;
    for (; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        std::string rel;
        if (l.rfind("dir ", 0) == 0) {
            if (!path(l.substr(4), &rel)) return plan;
            read.dirs.push_back(rel);
        } else if (l.rfind("file ", 0) == 0) {
            std::string prefix = "file " + std::to_string(read.members.size()) + " ";
            if (l.rfind(prefix, 0) != 0 || l.size() < prefix.size() + 2 || l[prefix.size() + 1] != ' ' ||
                (l[prefix.size()] != '0' && l[prefix.size()] != '1') || !path(l.substr(prefix.size() + 2), &rel))
                return plan;
            Member m;
            m.name = m.relative = rel;
            m.existed = l[prefix.size()] == '1';
            m.staged = staging + "/m" + std::to_string(read.members.size());
            if (m.existed) m.backup = staging + "/b" + std::to_string(read.members.size());
            read.members.push_back(std::move(m));
        } else if (l == "end " + std::to_string(read.members.size()) + " " + std::to_string(read.dirs.size())) {
            break;
        } else {
            return plan;
        }
    }
    if (i >= lines.size()) return plan;
    read.state = i + 1 < lines.size() && lines[i + 1] == "done" ? Plan::kDone : Plan::kPlanned;
    return read;
}

// Puts back the files the install of `plan` replaced and removes those it added, with the
// folders it made. A member whose staged bytes are still there was never put in place; a
// replaced one whose backup is gone was put back by an earlier try. True when the folder
// is as before; `undone` counts the files changed back.
bool Undo(const std::string& root, const Plan& plan, size_t* undone) {
    bool ok = true;
    *undone = 0;
    for (size_t i = plan.members.size(); i-- > 0;) {
        const Member& m = plan.members[i];
        if (Exists(m.staged) || (m.existed && !Exists(m.backup))) continue;
        std::string target = root + "/" + m.relative, why;
        bool back = CheckTarget(root, m, &why) &&
                    (m.existed ? ::rename(m.backup.c_str(), target.c_str()) == 0
                               : ::unlink(target.c_str()) == 0 || errno == ENOENT);
        if (!back) {
            ok = false;
            continue;
        }
        ++*undone;
        FaultPoint("undo", *undone);
    }
    for (auto it = plan.dirs.rbegin(); it != plan.dirs.rend(); ++it) ::rmdir((root + "/" + *it).c_str());
    Barrier(root);
    return ok;
}

// Installs the staged members, all or nothing. On a failure the journal undoes what was
// done; `keep` is set when that did not wholly succeed (the staging folder holds the old
// files for the next try).
bool Install(const std::string& root, const std::string& staging, const std::string& package,
             const std::vector<Member>& members, std::string* why, bool* keep) {
    Plan plan;
    plan.package = package;
    plan.members = members;
    std::set<std::string> planned;
    for (size_t i = 0; i < plan.members.size(); ++i) {
        Member& m = plan.members[i];
        for (size_t at = m.relative.find('/'); at != std::string::npos; at = m.relative.find('/', at + 1)) {
            std::string dir = m.relative.substr(0, at);
            if (!Exists(root + "/" + dir) && planned.insert(dir).second) plan.dirs.push_back(dir);
        }
        mode_t mode = 0644;
        const std::string ext = ".exe";
        if (m.relative.size() > ext.size() && Lower(m.relative.substr(m.relative.size() - ext.size())) == ext)
            mode = 0755;
        struct stat old{};
        if (::lstat((root + "/" + m.relative).c_str(), &old) == 0) {
            // A replaced file keeps its permissions (a program stays runnable).
            if (S_ISREG(old.st_mode)) mode = old.st_mode & 0777;
            m.existed = true;
            m.backup = staging + "/b" + std::to_string(i);
        }
        ::chmod(m.staged.c_str(), mode);
    }
    if (!WriteJournal(staging, JournalText(plan), why)) return false;

    // From here on the journal undoes every step.
    bool ok = true;
    for (size_t i = 0; ok && i < plan.members.size(); ++i) {
        const Member& m = plan.members[i];
        if (m.existed && ::link((root + "/" + m.relative).c_str(), m.backup.c_str()) != 0) {
            *why = "cannot keep the old " + m.relative + ": " + Errno(errno);
            ok = false;
        }
    }
    Barrier(root);  // every old file kept before the first is replaced
    FaultPoint("replace", 0);
    for (size_t done = 0; ok && done < plan.members.size();) {
        const Member& m = plan.members[done];
        for (size_t at = m.relative.find('/'); ok && at != std::string::npos; at = m.relative.find('/', at + 1)) {
            std::string dir = root + "/" + m.relative.substr(0, at);
            if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
                *why = "cannot make folder " + dir + ": " + Errno(errno);
                ok = false;
            }
        }
        if (!ok) break;
        if (::rename(m.staged.c_str(), (root + "/" + m.relative).c_str()) != 0) {
            *why = "cannot install " + m.relative + ": " + Errno(errno);
            ok = false;
            break;
        }
        FaultPoint("replace", ++done);
    }
    if (!ok) {
        size_t undone = 0;
        *keep = !Undo(root, plan, &undone);
        return false;
    }
    Barrier(root);
    // Once "done" is on disk a later run finishes this install instead of undoing it; if
    // it cannot be written the staging folder goes at once all the same.
    int fd = ::open((staging + "/journal").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) {
        if (WriteAll(fd, "done\n", 5)) ::fsync(fd);
        ::close(fd);
    }
    FaultPoint("done", 0);
    return true;
}

// Removes a staging folder, its journal first: a folder without one is nothing to mend.
void RemoveStaging(const std::string& dir) {
    ::unlink((dir + "/journal").c_str());
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
            ::unlink((dir + "/" + e->d_name).c_str());
        }
        ::closedir(d);
    }
    ::rmdir(dir.c_str());
}

// Mends each staging folder of `root` (see the top of this file); the caller holds the
// installation lock. The count of folders.
int RecoverLocked(const std::string& root) {
    std::vector<std::string> found;
    if (DIR* d = ::opendir(root.c_str())) {
        const size_t len = sizeof kStagingPrefix - 1;
        while (dirent* e = ::readdir(d)) {
            struct stat st{};
            std::string name = e->d_name;
            if (name.size() == len + 6 && name.compare(0, len, kStagingPrefix) == 0 &&
                ::lstat((root + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                found.push_back(name);
        }
        ::closedir(d);
    }
    for (const std::string& name : found) {
        std::string staging = root + "/" + name;
        Plan plan = ReadJournal(staging);
        std::string what;
        bool remove = true;
        if (plan.state == Plan::kNotBegun) {
            what = "interrupted before any file was replaced: nothing to undo";
        } else if (plan.state == Plan::kDone) {
            what = "interrupted install finished: installed " + std::to_string(plan.members.size()) + " files";
        } else {
            size_t undone = 0;
            remove = Undo(root, plan, &undone);
            what = remove ? "interrupted install rolled back: " + std::to_string(undone) + " of " +
                                std::to_string(plan.members.size()) + " files undone"
                          : "interrupted install not wholly rolled back: kept for the next run";
        }
        if (remove) RemoveStaging(staging);
        AppendLog(root, (plan.package.empty() ? name : plan.package) + ": " + what);
    }
    return static_cast<int>(found.size());
}

std::string Now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

}  // namespace

void AppendLog(const std::string& root, const std::string& text) {
    std::string dir = root + "/Log";
    ::mkdir(dir.c_str(), 0755);
    int fd = ::open((dir + "/wceload.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "wceload: cannot write %s/wceload.txt: %s\n", dir.c_str(), Errno(errno).c_str());
        return;
    }
    std::string line = Now() + " " + text + "\n";
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        std::fprintf(stderr, "wceload: cannot write %s/wceload.txt\n", dir.c_str());
    ::close(fd);
}

bool Run(const std::string& root, const std::string& package, const std::string& given, size_t* count,
         std::string* why) {
    int lock = Lock(root, WaitSeconds());
    if (lock < 0) {
        *why = "another installation is running";
        return false;
    }
    struct LockCloser {
        int fd;
        ~LockCloser() { ::close(fd); }
    } lockCloser{lock};

    // The folder's files change only once its program has ended, by an earlier install's
    // mending as by this one.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(WaitSeconds());
    while (LumeoRunning(root)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            *why = "Lumeo is still running";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    RecoverLocked(root);

    std::string tmpl = root + "/" + kStagingPrefix + "XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        *why = "cannot make a staging folder in " + root + ": " + Errno(errno);
        return false;
    }
    struct Cleanup {
        std::string dir;
        bool keep = false;
        ~Cleanup() {
            if (!keep) RemoveStaging(dir);
        }
    } cleanup{tmpl};

    std::vector<Member> members;
    if (!Stage(package, tmpl, &members, why)) return false;
    for (const Member& m : members)
        if (!CheckTarget(root, m, why)) return false;
    // The journal names the package in one line.
    std::string name = given;
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    if (!Install(root, tmpl, name, members, why, &cleanup.keep)) return false;
    *count = members.size();
    return true;
}

}  // namespace platform::wceload

int platform::RecoverInstalls(const wchar_t* programDir) {
    if (!programDir || !*programDir) return -1;
    char resolved[PATH_MAX];
    if (!::realpath(ToNativePath(programDir).c_str(), resolved)) return -1;
    int lock = wceload::Lock(resolved, 0);
    if (lock < 0) return -1;
    int n = wceload::RecoverLocked(resolved);
    ::close(lock);
    return n;
}
