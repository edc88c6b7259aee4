// Parsers of the texts a stream server sends: header lines (HTTP and ICY), the end of an
// ICY header block, and stream titles in ICY metadata. They read only inside the bytes
// given and keep no state.
#pragma once

#include <cstddef>
#include <string_view>

namespace network {

// What a header line sets.
struct HeaderVisitor {
    virtual ~HeaderVisitor() = default;
    virtual void ContentType(std::string_view value) = 0;
    virtual void Comment(const char* key, std::string_view value) = 0;  // key "GENRE=" or "TITLE="
    virtual void MetaInterval(std::string_view value) = 0;
};

// Walks header lines separated by CR LF or LF: "Content-Type:" / "content-type:",
// "icy-genre:", "icy-name:", "icy-metaint:". A value starts after the white space behind
// the colon and ends at CR, LF or the end.
void ParseHeaderLines(const char* text, size_t length, HeaderVisitor& visitor);

// The offset of the LF that ends an ICY header block (an LF followed by LF or by CR LF,
// all within the bytes given), or -1.
long IcyHeaderEnd(const char* data, size_t length);

// The first "StreamTitle='" of the block whose value is not empty: the value up to the
// next "'" (or the block's end or a zero byte). False when there is none.
bool FindStreamTitle(const char* block, size_t length, std::string_view& title);

// Whether the first line (at most 16 characters) reads as "ICY %d"; its status then.
bool IcyStatus(const char* data, size_t length, int& status);

}  // namespace network
