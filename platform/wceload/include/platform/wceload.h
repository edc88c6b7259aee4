// The phone's package installer (\Windows\wceload.exe), our own stand-in, as a library:
// the program wceload runs it, and the main program's start asks it to mend what an
// install cut short left behind, as the phone's system does when it starts.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Finishes or undoes each install that was cut short (a kill, a flat battery) in the
// program folder `programDir` (a phone path), notes each in Log\wceload.txt and removes
// the installer's staging folders. The count of folders dealt with; -1 while an installer
// is at work there (its staging folder is its own).
int RecoverInstalls(const wchar_t* programDir);

namespace wceload {

// Installs `package` (a cabinet in the Update folder of the program folder `root`) after
// mending what an earlier install left. `given` names the package in the log. The count
// of files installed, or false with the reason it was refused.
bool Run(const std::string& root, const std::string& package, const std::string& given, size_t* count,
         std::string* why);
// Appends "<local time> <text>" as one line to Log/wceload.txt of `root`.
void AppendLog(const std::string& root, const std::string& text);

}  // namespace wceload
}  // namespace platform
