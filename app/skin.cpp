#include "skin.h"

#include <cstring>
#include <map>
#include <new>

#include "log.h"
#include "entryGlobals.h"
#include "platform/image.h"
#include "platform/winuser.h"

Skin g_skin;

namespace {

// Layout constants of the five screen sizes (800x480, 640x480, 320x240, 480x320, 400x240).
struct SizeConstants {
    int textHeight;
    int hasArrow, showPublisher, landscapeColumns, showRelatedCaption, wideDetail;
    int startupMetric1, startupMetric2;
    int mainMetric1;
    int titleMetric1, titleMetric2;
    int thumbFramePen;
    int rowMetric1, rowMetric2, rowMetric3;
    int thumbWidth, thumbHeight;
    int mainMetric2;
    int periodMetric[6];
    int periodTabWidth;
    int detailMetric1, detailMetric2;
    int relatedRowsPortrait, relatedRowsLandscape;
    int mainMetric3, mainMetric4, mainMetric5, mainMetric6;
    double fontFactor1, fontFactor2, fontFactor4;
    double fontFactor6;
    int waitMetric1, waitMetric2;
    double mainScale;
    int waitMetric[6];
};

const SizeConstants kSizes[5] = {
    {23, 1, 1, 1, 1, 1, 177, 68, 73, 10, 120, 2, 8, 3, 2, 112, 84, 4, {7, 7, 101, 150, 10, 10}, 80, 5, 2, 5, 4,
     3, 3, 6, 1, 2.0, 1.0, 2.0, 3.5, 100, 120, 1.5, {70, 250, 340, 175, 230, 140}},
    {20, 1, 1, 1, 1, 1, 108, 68, 60, 10, 120, 2, 8, 3, 2, 104, 78, 6, {6, 6, 95, 147, 10, 10}, 80, 2, 2, 4, 4,
     3, 3, 6, 1, 2.0, 1.0, 2.0, 3.5, 100, 120, 1.5, {70, 170, 340, 175, 150, 140}},
    {14, 0, 0, 0, 0, 0, 52, 28, 49, 5, 80, 2, 5, 0, 2, 46, 35, 0, {5, 4, 53, 45, 5, 4}, 53, 5, 2, 3, 2,
     3, 2, 6, 1, 2.0, 0.8, 4.0 / 3.0, 2.5, 52, 55, 1.25, {30, 100, 180, 80, 70, 80}},
    {20, 0, 0, 0, 0, 0, 100, 52, 55, 10, 100, 2, 5, 0, 0, 80, 60, 0, {5, 4, 79, 45, 10, 4}, 70, 7, 2, 3, 2,
     3, 2, 6, 1, 2.0, 0.8, 4.0 / 3.0, 2.5, 62, 99, 1.25, {30, 125, 260, 136, 110, 70}},
    {17, 0, 0, 0, 0, 0, 100, 52, 50, 8, 80, 1, 5, 0, 0, 56, 42, 0, {4, 3, 62, 45, 5, 4}, 53, 8, 2, 5, 3,
     3, 2, 6, 1, 5.0 / 3.0, 0.8, 4.0 / 3.0, 2.5, 67, 70, 1.25, {15, 125, 210, 95, 95, 70}},
};

const wchar_t* const kImageFiles[SKIN_IMAGE_COUNT] = {
    L"%sdlg.gif",       L"%srelVideo.gif",  L"%slumeoArrow.png",    L"%sbottomBtn.png",
    L"%sClassifyBtn.png", L"%sdtlBtn.png",  L"%semptyPic.png",      L"%spicBk.png",
    L"%sinnerTitleBar.png", L"%spgrmLogo.png", L"%spgrmUpBar.png",  L"%srankBtn.png",
    L"%srankNumbk.png", L"%ssrchBtn.png",   L"%ssrchClear.png",     L"%sstupLogo.png",
};

int LoadSkinImage(Skin* skin, int slot, HBITMAP* out) {
    *out = SHLoadImageFile(skin->imagePath[slot]);
    if (!*out) {
        LOG(LOG_WARNING, L"SHLoadImageFile failed : path=%s", skin->imagePath[slot]);
        return -1;
    }
    return 0;
}

void DeleteBitmap(HBITMAP* bmp) {
    if (*bmp) {
        DeleteObject(*bmp);
        *bmp = nullptr;
    }
}

}  // namespace

SIZE BitmapSize(HBITMAP bmp) {
    BITMAP bm{};
    if (!bmp || GetObjectW(bmp, sizeof(bm), &bm) == 0) return SIZE{0, 0};
    return SIZE{bm.bmWidth, bm.bmHeight};
}

int InitSkin(Skin* skin, int index, CStringW folder, CStringW prefix) {
    std::memset(static_cast<void*>(skin), 0, sizeof(*skin));
    if (InitParam(skin, index) != 0) {
        LOG(LOG_WARNING, L"InitParam failed");
        return -1;
    }
    if (InitPicture(skin, folder, prefix) != 0) {
        LOG(LOG_WARNING, L"InitPicture failed");
        return -1;
    }
    return 0;
}

int InitParam(Skin* skin, int index) {
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    skin->longSide = cx > cy ? cx : cy;
    skin->shortSide = cx > cy ? cy : cx;
    if (index < 1 || index > 5) {
        LOG(LOG_WARNING, L"Unknown screen size : %d", index);
        return -1;
    }
    const SizeConstants& c = kSizes[index - 1];
    skin->textHeight = c.textHeight;
    skin->hasArrow = c.hasArrow;
    skin->showPublisher = c.showPublisher;
    skin->landscapeColumns = c.landscapeColumns;
    skin->showRelatedCaption = c.showRelatedCaption;
    skin->wideDetail = c.wideDetail;
    skin->startupMetric1 = c.startupMetric1;
    skin->startupMetric2 = c.startupMetric2;
    skin->startupTextHeight = skin->textHeight;
    skin->mainMetric1 = c.mainMetric1;
    skin->titleMetric1 = c.titleMetric1;
    skin->titleMetric2 = c.titleMetric2;
    skin->titleTextHeight = skin->textHeight;
    skin->thumbFramePen = c.thumbFramePen;
    skin->rowMetric1 = c.rowMetric1;
    skin->rowMetric2 = c.rowMetric2;
    skin->rowMetric3 = c.rowMetric3;
    skin->thumbWidth = c.thumbWidth;
    skin->thumbHeight = c.thumbHeight;
    skin->mainMetric2 = c.mainMetric2;
    skin->periodMetric1 = c.periodMetric[0];
    skin->periodMetric2 = c.periodMetric[1];
    skin->periodMetric3 = c.periodMetric[2];
    skin->periodMetric4 = c.periodMetric[3];
    skin->periodMetric5 = c.periodMetric[4];
    skin->periodMetric6 = c.periodMetric[5];
    skin->periodCount = 3;
    skin->periodTabWidth = c.periodTabWidth;
    skin->detailMetric1 = c.detailMetric1;
    skin->detailMetric2 = c.detailMetric2;
    skin->relatedRowsPortrait = c.relatedRowsPortrait;
    skin->relatedRowsLandscape = c.relatedRowsLandscape;
    skin->helpMetric1 = skin->helpMetric2 = skin->helpMetric3 = 15;
    skin->mainMetric3 = c.mainMetric3;
    skin->mainMetric4 = c.mainMetric4;
    skin->mainMetric5 = c.mainMetric5;
    skin->mainMetric6 = c.mainMetric6;
    skin->searchHistoryCount = 3;
    skin->searchMetric1 = 1;
    skin->mainColour = RGB(0, 68, 117);
    skin->fontFactor1 = c.fontFactor1;
    skin->fontFactor2 = c.fontFactor2;
    skin->fontFactor3 = 0.6;
    skin->fontFactor4 = c.fontFactor4;
    skin->fontFactor5 = 1.0;
    skin->fontFactor6 = c.fontFactor6;
    skin->fontFactor7 = 3.5;
    skin->mainMetric7 = 10;
    skin->mainMetric8 = 3;
    skin->mainMetric9 = 1;
    skin->waitMetric1 = c.waitMetric1;
    skin->waitMetric2 = c.waitMetric2;
    skin->mainScale = c.mainScale;
    skin->mainMetric10 = 8;
    skin->waitMetric3 = c.waitMetric[0];
    skin->waitMetric4 = c.waitMetric[1];
    skin->waitMetric5 = c.waitMetric[2];
    skin->waitMetric6 = c.waitMetric[3];
    skin->waitMetric7 = c.waitMetric[4];
    skin->waitMetric8 = c.waitMetric[5];
    skin->waitMetric9 = skin->waitMetric5;
    skin->waitMetric10 = skin->waitMetric6;

    skin->periodPos = new (std::nothrow) int[skin->periodCount]();
    skin->periodCaption = new (std::nothrow) CStringW[skin->periodCount];
    skin->searchHistory = new (std::nothrow) CStringW[skin->searchHistoryCount];
    if (!skin->periodPos || !skin->periodCaption || !skin->searchHistory) {
        LOG(LOG_ERROR, L"not enough memory");
        return -1;
    }
    skin->periodCaption[0] = L"今日";
    skin->periodCaption[1] = L"本周";
    skin->periodCaption[2] = L"本月";
    return 0;
}

int InitPicture(Skin* skin, CStringW folder, CStringW prefix) {
    CStringW base;
    base.Format(L"%s\\Res\\Skin\\%s\\%s", g_appDir, folder.GetString(), prefix.GetString());
    for (int slot = 0; slot < SKIN_IMAGE_COUNT; ++slot) {
        if (slot == SKIN_ARROW && !skin->hasArrow) continue;
        _snwprintf(skin->imagePath[slot], SKIN_PATH_LEN, kImageFiles[slot], base.GetString());
        skin->imagePath[slot][SKIN_PATH_LEN - 1] = 0;
    }

    if (skin->hasArrow && LoadSkinImage(skin, SKIN_ARROW, &skin->arrowStrip) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_BOTTOM_BTN, &skin->tabStrip) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_CLASSIFY_BTN, &skin->channelStrip) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_DTL_BTN, &skin->detailStrip) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_RANK_BTN, &skin->rankStrip) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_SRCH_BTN, &skin->searchStrip) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_SRCH_CLEAR, &skin->searchClearStrip) != 0) return -1;

    HBITMAP* pieces = new (std::nothrow) HBITMAP[MAX_DISTBMP_NUM]();
    if (!pieces) {
        LOG(LOG_ERROR, L"not enough memory");
        return -1;
    }
    auto split = [&](HBITMAP strip, int count) {
        if (SplitBmp(strip, pieces, count) != 0) {
            LOG(LOG_WARNING, L"SplitBmp failed");
            return false;
        }
        return true;
    };
    bool ok = true;
    if (ok && skin->hasArrow && (ok = split(skin->arrowStrip, 2))) {
        skin->arrow[0] = pieces[0];
        skin->arrow[1] = pieces[1];
    }
    if (ok && (ok = split(skin->tabStrip, 12))) {
        for (int k = 0; k < 4; ++k) {
            skin->tabBtn[3 * k] = pieces[3 * k + 1];
            skin->tabBtn[3 * k + 1] = pieces[3 * k];
            skin->tabBtn[3 * k + 2] = pieces[3 * k + 2];
        }
    }
    if (ok && (ok = split(skin->channelStrip, 12))) {
        for (int k = 0; k < 5; ++k) {
            skin->channelBtn[2 * k] = pieces[2 * k + 1];
            skin->channelBtn[2 * k + 1] = pieces[2 * k];
        }
        skin->channelBtn[10] = pieces[10];
        skin->channelBtn[11] = pieces[11];
    }
    if (ok && (ok = split(skin->detailStrip, 2))) {
        skin->detailBtn[0] = pieces[1];
        skin->detailBtn[1] = pieces[0];
    }
    if (ok && (ok = split(skin->rankStrip, 6))) {
        for (int k = 0; k < 3; ++k) {
            skin->rankBtn[2 * k] = pieces[2 * k + 1];
            skin->rankBtn[2 * k + 1] = pieces[2 * k];
        }
    }
    if (ok && (ok = split(skin->searchStrip, 2))) {
        skin->searchBtn[0] = pieces[1];
        skin->searchBtn[1] = pieces[0];
    }
    if (ok && (ok = split(skin->searchClearStrip, 2))) {
        skin->searchClearBtn[0] = pieces[1];
        skin->searchClearBtn[1] = pieces[0];
    }
    delete[] pieces;
    if (!ok) return -1;

    if (LoadSkinImage(skin, SKIN_EMPTY_PIC, &skin->emptyPic) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_PIC_BK, &skin->picBk) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_INNER_TITLE_BAR, &skin->innerTitleBar) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_PGRM_LOGO, &skin->pgrmLogo) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_PGRM_UP_BAR, &skin->pgrmUpBar) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_RANK_NUM_BK, &skin->rankNumBk) != 0) return -1;
    if (LoadSkinImage(skin, SKIN_STUP_LOGO, &skin->stupLogo) != 0) return -1;

    DeleteBitmap(&skin->arrowStrip);
    DeleteBitmap(&skin->tabStrip);
    DeleteBitmap(&skin->channelStrip);
    DeleteBitmap(&skin->detailStrip);
    DeleteBitmap(&skin->rankStrip);
    DeleteBitmap(&skin->searchStrip);
    DeleteBitmap(&skin->searchClearStrip);
    return 0;
}

int SplitBmp(HBITMAP strip, HBITMAP* pieces, int count) {
    if (count <= 0 || count > MAX_DISTBMP_NUM) {
        LOG(LOG_WARNING, L"distNum <= 0 || distNum > MAX_DISTBMP_NUM: %d", count);
        return -1;
    }
    BITMAP bm{};
    if (!strip || !pieces || GetObjectW(strip, sizeof(bm), &bm) == 0) return -1;
    HDC src = CreateCompatibleDC(nullptr);
    HDC dst = CreateCompatibleDC(nullptr);
    if (!src || !dst) {
        if (src) DeleteDC(src);
        if (dst) DeleteDC(dst);
        return -1;
    }
    HGDIOBJ oldSrc = SelectObject(src, strip);
    int w = bm.bmWidth / count;
    int result = 0;
    for (int i = 0; i < count; ++i) {
        pieces[i] = CreateBitmap(w, bm.bmHeight, bm.bmPlanes, bm.bmBitsPixel, nullptr);
        if (!pieces[i]) {
            result = -1;
            break;
        }
        HGDIOBJ old = SelectObject(dst, pieces[i]);
        BitBlt(dst, 0, 0, w, bm.bmHeight, src, bm.bmWidth * i / count, 0, SRCCOPY);
        SelectObject(dst, old);
    }
    SelectObject(src, oldSrc);
    DeleteDC(src);
    DeleteDC(dst);
    return result;
}

void ReleaseSkin(Skin* skin) {
    HBITMAP* pictures[] = {&skin->emptyPic, &skin->picBk, &skin->stupLogo, &skin->pgrmLogo, &skin->pgrmUpBar,
                           &skin->innerTitleBar, &skin->rankNumBk};
    for (int i = 0; i < 6; ++i) DeleteBitmap(pictures[i]);
    for (HBITMAP& b : skin->tabBtn) DeleteBitmap(&b);
    for (HBITMAP& b : skin->rankBtn) DeleteBitmap(&b);
    for (HBITMAP& b : skin->channelBtn) DeleteBitmap(&b);
    for (HBITMAP& b : skin->searchBtn) DeleteBitmap(&b);
    for (HBITMAP& b : skin->searchClearBtn) DeleteBitmap(&b);
    for (HBITMAP& b : skin->detailBtn) DeleteBitmap(&b);
    for (HBITMAP& b : skin->arrow) DeleteBitmap(&b);
    DeleteBitmap(pictures[6]);
    // Strips left by a failed cut.
    DeleteBitmap(&skin->arrowStrip);
    DeleteBitmap(&skin->tabStrip);
    DeleteBitmap(&skin->channelStrip);
    DeleteBitmap(&skin->detailStrip);
    DeleteBitmap(&skin->rankStrip);
    DeleteBitmap(&skin->searchStrip);
    DeleteBitmap(&skin->searchClearStrip);
    delete[] skin->periodPos;
    skin->periodPos = nullptr;
    delete[] skin->periodCaption;
    skin->periodCaption = nullptr;
    delete[] skin->searchHistory;
    skin->searchHistory = nullptr;
    // No slots are left to read or fill.
    skin->searchHistoryCount = 0;
}

namespace {
struct FontRating {
    std::map<std::wstring, int> scores;
    CStringW best;
    int bestScore = 0;
};

int RateFontFamily(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM lParam) {
    auto* r = reinterpret_cast<FontRating*>(lParam);
    auto it = r->scores.find(font->lfFaceName);
    if (it != r->scores.end() && it->second > r->bestScore) {
        r->best = font->lfFaceName;
        r->bestScore = it->second;
    }
    return 1;
}
}  // namespace

CStringW ChooseFontFace(HWND window) {
    FontRating rating;
    const wchar_t* families[] = {L"微软雅黑", L"华文细黑", L"黑体",        L"华文中宋", L"华文仿宋",
                                 L"新宋体",   L"宋体",     L"仿宋_GB2312", L"华文楷体", L"楷体_GB2312"};
    int score = 10000;
    for (const wchar_t* f : families) rating.scores[f] = score--;
    HDC dc = GetDC(window);
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc, &lf, RateFontFamily, reinterpret_cast<LPARAM>(&rating), 0);
    ReleaseDC(window, dc);
    return rating.best;
}

int FileNameOffset(const wchar_t* path) {
    if (!path) return 0;
    int offset = 0;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == L':') offset = static_cast<int>(p - path) + 1;
    }
    return offset;
}
