// The reader of video lists written in JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/cstring.h"

// One video of a JSON list. The reader fills vid, title, seconds and duration; the
// other fields have no source in the answers and stay empty or 0.
struct JsonVideoItem {
    int num1 = 0;
    CStringW vid;    // "encodeVid"
    CStringW title;  // "title"
    CStringW str4, str5, str6;
    int num7 = 0, num8 = 0, num9 = 0, num10 = 0;
    CStringW str11;
    CStringW seconds;   // "seconds" as the answer writes it
    CStringW duration;  // "mm:ss", or "hh:mm:ss" from an hour on
    CStringW str14, str15, str16;
    int num17 = 0;
    CStringW str18, str19, str20, str21, str22, str23;
};

// Appends one record per video object found under "items" at the keys "0" .. count-1,
// in index order. 0, or -1 when the text is not JSON or has no "items" object.
int ParseJsonVideoList(const std::string& text, int count, std::vector<JsonVideoItem>& out);
// Fills `record` from one video object; members that are missing (or not strings)
// leave their fields as they were.
void ParseJsonVideoItem(const nlohmann::json& video, JsonVideoItem& record);
