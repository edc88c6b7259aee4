// URL and path helpers.
#pragma once

#include "core/node.h"

// Splits a URL (or a local path) into its base part, protocol, host and path; any out
// may be null. base = protocol "://" host and the path up to its last '/' (without it);
// for "http://h/dir/a.flv?x" it is "http://h/dir", for "http://h/dir/" also "http://h/dir".
// For a local path the base is the folder (up to its last '/' or '\').
// protocol: "http" (empty for a local path); host: "h:8080"; path: "/dir/a.flv?x".
void SplitURL(const tchar* url, tchar* base, int baseCapacity, tchar* protocol = nullptr, int protocolCapacity = 0,
              tchar* host = nullptr, int hostCapacity = 0, tchar* path = nullptr, int pathCapacity = 0);
// Resolves `link` against a base part as SplitURL gives it: a link with a protocol stays
// as it is, "//host/x" takes the base's protocol, "/x" its protocol and host, anything
// else is appended to the base with "/"; "./" and "../" segments are resolved.
void AbsPath(tchar* out, int capacity, const tchar* link, const tchar* base);
// The kind letter of the URL's extension in a list such as "mp4:v;flv:v;mp3:a", without
// regard to case, or 0. The extension is read from the last path segment, before any
// '?' or '#'.
int CheckExts(const tchar* url, const tchar* exts);
// The code page named by the "charset=" of a content type (65001 UTF-8, 28591 Latin-1,
// 1252, 936 GB2312/GBK, 950 Big5, 932 Shift_JIS, 949 EUC-KR, 125x, 20866 KOI8-R, ...);
// 0 (CP_ACP) when it names none or one not known.
int GetCodePage(const tchar* contentType);
