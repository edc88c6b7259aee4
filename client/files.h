// Folder and file helpers for the program's folders.
#pragma once

// 0 when the folder was made or already exists, else -1 (the code in g_errno).
int MyCreateDirectory(const wchar_t* dirPath);
// Copies over an existing destination. 0, or -1 (the code in g_errno).
int MyCopyFile(const wchar_t* srcFilePath, const wchar_t* destFilePath);
// Deletes every file of `folder` matching `pattern` ("*", "*.jpg"); sub-folders stay.
// A file that cannot be deleted is passed over. 0 when every match was visited.
int DeleteAllFiles(const wchar_t* folder, const wchar_t* pattern);
