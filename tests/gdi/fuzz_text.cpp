// libFuzzer target: any text, rectangle and format given to DrawTextW lays out and draws
// without harm. Bytes: 4 of format, 8 of rectangle, 1 of font height, then UTF-16 text.
#include "platform/gdi.h"
#include "platform/surface.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 13) return 0;
    static auto surface = std::make_shared<platform::Surface>(120, 80, 0xFFFFFF);
    static HDC dc = platform::CreateSurfaceDC(surface, POINT{0, 0}, RECT{0, 0, 120, 80});
    UINT format;
    std::memcpy(&format, data, 4);
    int16_t r[4];
    std::memcpy(r, data + 4, 8);
    LOGFONTW lf{};
    lf.lfHeight = static_cast<int8_t>(data[12]);
    lf.lfWeight = (data[12] & 1) ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = (data[12] >> 1) & 1;
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, (data[12] & 4) ? OPAQUE : TRANSPARENT);
    std::wstring text;
    for (size_t i = 13; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    RECT rect{r[0], r[1], r[2], r[3]};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format & ~DT_MODIFYSTRING);
    RECT calc{r[0], r[1], r[2], r[3]};
    DrawTextW(dc, text.c_str(), -1, &calc, (format | DT_CALCRECT) & ~DT_MODIFYSTRING);
    SIZE sz;
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &sz);
    SelectObject(dc, old);
    DeleteObject(font);
    return 0;
}
