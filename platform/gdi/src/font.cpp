// Fonts: every face name maps onto the installed Chinese font; sizes are rasterised by
// FreeType and their glyphs kept.
#include "font.h"

#include "platform/lasterror.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <tuple>

namespace platform::gdi {
namespace {

const char* const kFontFiles[] = {
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
    "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
};

const wchar_t kSystemFace[] = L"WenQuanYi Micro Hei";
const wchar_t kMonoFace[] = L"WenQuanYi Micro Hei Mono";
constexpr int kSystemHeight = 16;
constexpr size_t kMaxGlyphsPerSize = 8192;
constexpr size_t kMaxSizes = 48;

struct Library {
    FT_Library ft = nullptr;
    std::vector<uint8_t> file;  // the font file, shared by every sized face
    bool ok = false;
    Library() {
        if (FT_Init_FreeType(&ft) != 0) return;
        for (const char* path : kFontFiles) {
            FILE* f = std::fopen(path, "rb");
            if (!f) continue;
            std::fseek(f, 0, SEEK_END);
            long n = std::ftell(f);
            std::fseek(f, 0, SEEK_SET);
            if (n > 0) {
                file.resize(static_cast<size_t>(n));
                if (std::fread(file.data(), 1, file.size(), f) != file.size()) file.clear();
            }
            std::fclose(f);
            if (!file.empty()) break;
        }
        ok = !file.empty();
    }
};

Library& library() {
    static Library lib;
    return lib;
}

}  // namespace

struct SizedFont::Impl {
    FT_Face face = nullptr;
    ~Impl() {
        if (face) FT_Done_Face(face);
    }
};

const Glyph* SizedFont::Get(char32_t c) {
    auto it = cache.find(c);
    if (it != cache.end()) return &it->second;
    if (!impl || !impl->face) return nullptr;
    if (cache.size() >= kMaxGlyphsPerSize) cache.clear();
    Glyph g;
    FT_Face face = impl->face;
    // Line breaks and other controls take no room.
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x200B || c == 0xFEFF) {
        return &cache.emplace(c, std::move(g)).first->second;
    }
    FT_UInt index = FT_Get_Char_Index(face, c);
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) == 0) {
        FT_GlyphSlot slot = face->glyph;
        int extra = 0;
        if (bold && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
            FT_Pos strength = std::max<FT_Pos>(24, em * 64 / 22);
            FT_Outline_Embolden(&slot->outline, strength);
            extra = static_cast<int>((strength + 32) >> 6);
        }
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0) {
            const FT_Bitmap& bm = slot->bitmap;
            g.left = slot->bitmap_left;
            g.top = slot->bitmap_top;
            g.width = static_cast<int>(bm.width);
            g.height = static_cast<int>(bm.rows);
            g.coverage.resize(static_cast<size_t>(g.width) * g.height);
            for (int y = 0; y < g.height; ++y) {
                const uint8_t* src = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
                std::memcpy(g.coverage.data() + static_cast<size_t>(y) * g.width, src, g.width);
            }
        }
        g.advance = static_cast<int>((slot->advance.x + 32) >> 6) + extra;
    }
    return &cache.emplace(c, std::move(g)).first->second;
}

std::shared_ptr<SizedFont> ResolveFont(const LOGFONTW& lf) {
    // Sized fonts (and their glyphs) are shared by every HFONT of the same face, size and
    // weight, and outlive them: painters create their fonts per paint.
    struct Entry {
        std::shared_ptr<SizedFont> font;
        uint64_t used = 0;
    };
    static std::map<std::tuple<int, int, bool>, Entry> sizes;
    static uint64_t clock = 0;
    // Its own lock: the stock objects are made without GdiMutex(); glyphs of a face are
    // only rendered under GdiMutex().
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const int faceIndex = std::wcsncmp(lf.lfFaceName, kMonoFace, LF_FACESIZE) == 0 ? 1 : 0;
    const bool bold = lf.lfWeight >= FW_SEMIBOLD;
    const int requested = lf.lfHeight == 0 ? kSystemHeight : lf.lfHeight;
    const int key = std::clamp(requested, -2048, 2048);
    auto k = std::make_tuple(faceIndex, key, bold);
    auto found = sizes.find(k);
    if (found != sizes.end()) {
        found->second.used = ++clock;
        return found->second.font;
    }
    if (sizes.size() >= kMaxSizes) {
        // Forget the size used longest ago that no font holds any more.
        auto victim = sizes.end();
        for (auto it = sizes.begin(); it != sizes.end(); ++it)
            if (it->second.font.use_count() == 1 && (victim == sizes.end() || it->second.used < victim->second.used))
                victim = it;
        if (victim != sizes.end()) sizes.erase(victim);
    }

    auto f = std::make_shared<SizedFont>();
    f->bold = bold;
    f->faceIndex = faceIndex;
    Library& lib = library();
    FT_Face face = nullptr;
    if (lib.ok && FT_New_Memory_Face(lib.ft, lib.file.data(), static_cast<FT_Long>(lib.file.size()), faceIndex,
                                     &face) != 0 &&
        faceIndex != 0) {
        face = nullptr;
        FT_New_Memory_Face(lib.ft, lib.file.data(), static_cast<FT_Long>(lib.file.size()), 0, &face);
    }
    int cell = std::abs(key);
    if (cell < 1) cell = 1;
    if (face) {
        const double upem = face->units_per_EM ? face->units_per_EM : 1000;
        const double asc = face->ascender, desc = -face->descender;
        const double span = (asc + desc) > 0 ? asc + desc : upem;
        // Positive heights are the cell (ascent + descent), negative ones the em.
        int em = key > 0 ? static_cast<int>(std::lround(cell * upem / span)) : cell;
        if (key < 0) cell = static_cast<int>(std::lround(span * em / upem));
        em = std::max(em, 1);
        cell = std::max(cell, 1);
        FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(em));
        f->em = em;
        f->ascent = std::min(cell, static_cast<int>(std::lround(asc * cell / span)));
        f->descent = cell - f->ascent;
        f->underlineThickness = std::max(1, static_cast<int>(std::lround(face->underline_thickness * em / upem)));
        f->underlinePos = std::clamp(static_cast<int>(std::lround(-face->underline_position * em / upem)), 1,
                                     std::max(1, f->descent - f->underlineThickness));
        f->impl = std::make_shared<SizedFont::Impl>();
        f->impl->face = face;
    } else {
        f->em = cell;
        f->ascent = cell * 4 / 5;
        f->descent = cell - f->ascent;
    }
    sizes[k] = Entry{f, ++clock};
    return f;
}

std::shared_ptr<Font> SystemFont() {
    static std::shared_ptr<Font> font = [] {
        auto f = std::make_shared<Font>();
        f->lf.lfHeight = kSystemHeight;
        f->lf.lfWeight = FW_NORMAL;
        f->lf.lfCharSet = DEFAULT_CHARSET;
        std::wcsncpy(f->lf.lfFaceName, kSystemFace, LF_FACESIZE - 1);
        f->sized = ResolveFont(f->lf);
        return f;
    }();
    return font;
}

const wchar_t* SystemFaceName() { return kSystemFace; }

}  // namespace platform::gdi

using namespace platform;
using namespace platform::gdi;

HFONT CreateFontIndirectW(const LOGFONTW* lf) {
    if (!lf) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(GdiMutex());
    auto f = std::make_shared<Font>();
    f->lf = *lf;
    f->lf.lfFaceName[LF_FACESIZE - 1] = 0;
    if (f->lf.lfFaceName[0] == 0) std::wcsncpy(f->lf.lfFaceName, kSystemFace, LF_FACESIZE - 1);
    f->sized = ResolveFont(f->lf);
    return static_cast<HFONT>(AddObject(f));
}

int EnumFontFamiliesExW(HDC hdc, LOGFONTW* font, FONTENUMPROCW proc, LPARAM lParam, DWORD) {
    if (!proc) return 0;
    std::shared_ptr<Font> sys;
    {
        std::lock_guard lock(GdiMutex());
        if (!LookupDC(hdc)) return 0;
        sys = SystemFont();
    }
    const wchar_t* faces[] = {kSystemFace, kMonoFace};
    int result = 1;
    for (const wchar_t* face : faces) {
        if (font && font->lfFaceName[0] && std::wcsncmp(font->lfFaceName, face, LF_FACESIZE) != 0) continue;
        LOGFONTW lf = sys->lf;
        std::wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
        lf.lfCharSet = GB2312_CHARSET;
        TEXTMETRICW tm{};
        tm.tmHeight = sys->sized->height();
        tm.tmAscent = sys->sized->ascent;
        tm.tmDescent = sys->sized->descent;
        tm.tmWeight = FW_NORMAL;
        tm.tmCharSet = GB2312_CHARSET;
        result = proc(&lf, &tm, TRUETYPE_FONTTYPE, lParam);
        if (!result) break;
    }
    return result;
}
