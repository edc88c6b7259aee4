// wceload: the phone's package installer, as a small program of this machine.
//
//     wceload "<program folder>\Update\<package>.CAB"
//
// Reads the package as a Microsoft cabinet and checks it whole (structure, sizes, block
// checksums) before anything is installed; then installs its files into the program
// folder, the folder that holds the package's Update folder, each member at its path
// relative to it. Members that would land outside (absolute paths, "..", a link leading
// out) refuse the whole package. An install is all or nothing, a kill part-way included:
// the next run (or the program's start) finishes or undoes what one cut short left. A
// running Lumeo of that folder is given a bounded time to end first. Each run appends
// one line to Log\wceload.txt in the program folder.
// Exit status 0 when installed, 1 when refused.
#include <strings.h>
#include <sys/stat.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/wceload.h"

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");  // member names come as UTF-8
    if (argc < 2) {
        std::fprintf(stderr, "usage: wceload \"PACKAGE\"  (a cabinet in a program folder's Update folder)\n");
        return 1;
    }
    // The updater passes the quoted path as one argument; by hand it may come in pieces.
    std::string given;
    for (int i = 1; i < argc; ++i) given += (i > 1 ? " " : "") + std::string(argv[i]);
    if (given.size() >= 2 && given.front() == '"' && given.back() == '"') given = given.substr(1, given.size() - 2);
    std::string package = platform::ToNativePath(platform::Utf8ToWide(given).c_str());

    auto slash = package.find_last_of('/');
    std::string updateDir = slash == std::string::npos ? "." : package.substr(0, slash);
    auto up = updateDir.find_last_of('/');
    std::string updateName = up == std::string::npos ? updateDir : updateDir.substr(up + 1);
    std::string parent = up == std::string::npos ? "." : (up == 0 ? "/" : updateDir.substr(0, up));
    char resolved[PATH_MAX];
    struct stat st{};
    if (given.empty() || ::strcasecmp(updateName.c_str(), "update") != 0 || !::realpath(parent.c_str(), resolved) ||
        ::stat(package.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "wceload: %s: refused: not a package file in a program folder's Update folder\n",
                     given.c_str());
        return 1;
    }
    std::string root = resolved;

    size_t count = 0;
    std::string why;
    bool ok = platform::wceload::Run(root, package, given, &count, &why);
    std::string line = given + ": " + (ok ? "installed " + std::to_string(count) + " files" : "refused: " + why);
    platform::wceload::AppendLog(root, line);
    if (!ok) std::fprintf(stderr, "wceload: %s\n", line.c_str());
    return ok ? 0 : 1;
}
