// The link scanner of the HTML link listing: a plain text scan of a page for four tag
// and attribute pairs, and the decoding of what it finds.
#pragma once

#include <cstddef>
#include <string>

namespace network {

struct LinkScan {
    const char* page = nullptr;
    size_t size = 0;
    size_t pos = 0;  // where the next search starts
    int pass = 0;    // 0 "<A " HREF, 1 "<AREA " HREF, 2 "<EMBED " HREF, 3 "<EMBED " SRC; 4 = done
};

// The next link value as written (quotes removed). False when every pass is over.
bool NextLinkValue(LinkScan& scan, std::string& value);

// Each "&name;" of the entity table becomes its Latin-1 byte; nothing else changes.
std::string DecodeEntities(const std::string& text);
// Each "%" followed by two hex digits becomes that byte.
std::string DecodePercent(const std::string& text);
// Each numeric character reference ("&#38;", "&#x26;") becomes the character it names:
// the text a link's kind is told from, where the "#" of a reference would read as the
// start of a fragment.
std::wstring DecodeNumericReferences(const std::wstring& text);

}  // namespace network
