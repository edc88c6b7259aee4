// The built-in catalogue of the sample web service.
#pragma once

#include <string>
#include <vector>

struct MediaFile {
    std::string name;     // file name under the media folder, e.g. "seg2.flv"
    unsigned size = 0;    // bytes
    unsigned seconds = 0; // play time
};

struct Video {
    std::string vid;
    int cid = 0;          // channel id
    std::string title, user, desc, tags, cats, pubdate;
    int age = 0;          // days before the catalogue's "today"
    unsigned pv = 0, comments = 0, favs = 0, up = 0, down = 0;
    bool recommended = false;
    std::vector<int> segs; // indexes into the media files of one kind (0..2)
};

// The five channels, in the order the client knows them.
extern const int kChannelIds[5];
const char* ChannelName(int cid);

std::vector<Video> BuildCatalogue(int count);
