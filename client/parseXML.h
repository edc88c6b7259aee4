// The video and update records, and the reader of the web API's XML answers.
#pragma once

#include <vector>

#include "platform/cstring.h"
#include "platform/wintypes.h"
#include "platform/xmldom.h"

struct Segment {
    DWORD id = 0;
    DWORD size = 0;
    DWORD seconds = 0;
    CStringW url;
};

struct VideoItem {
    CStringW vid;
    std::vector<Segment> stream;
    std::vector<Segment> streamMp4;
    std::vector<Segment> stream3gp;
    CStringW title;
    CStringW img;
    CStringW duration;
    DWORD pv = 0;
    CStringW desc;
    DWORD totalcomment = 0;
    CStringW user;
    DWORD up = 0;
    DWORD down = 0;
    CStringW cats;
    CStringW tags;
    CStringW pubdate;
};

struct UpdateInfo {
    int type = 0;
    CStringW ver;
    CStringW desc;
    CStringW down;
};

// Appends the videos of a list answer to `out`; `total` is the service's count, at most
// `maxTotal`, or the number of videos read when the answer gives none. 0 or -1.
int GetVideoList(const wchar_t* path, std::vector<VideoItem>& out, int& total, int maxTotal);
int ParseVideoList(const wchar_t* path, std::vector<VideoItem>& out, int& total, int maxTotal);
// Reads the version-check answer. 0 or -1.
int GetUpdateInfo(const wchar_t* path, UpdateInfo& info);
int ParseUpdateInfo(const wchar_t* path, UpdateInfo& info);

// COM for the calling thread; 0 only when this call initialised it.
int initXML();
// The loaded document, or an empty one (logged) on failure.
XmlDocument LoadXML(const wchar_t* path);
// Text (or number, read as wcstol reads it) of the single child `name`. 0 or -1; a
// missing child is a failure of that value.
int GetNodeString(const XmlNode& node, const wchar_t* name, CStringW& out);
int GetNodeUINT(const XmlNode& node, const wchar_t* name, DWORD& out);
// Segments of the item's single list `name`: 0 read, 1 no single such list, -1 failure.
int ParseStream(const XmlNode& item, const wchar_t* name, std::vector<Segment>& out);

// Seconds since 1 January 1970 of a time, or -1 when it is not a valid time.
LONGLONG SystemTimeToTime(const SYSTEMTIME& st);
