// The skin: image paths and pictures of the screen size, its layout constants, the values
// the main window derives from them, and the ten fonts. One global record, g_skin.
#pragma once

#include "platform/windows.h"
#include "platform/gdi.h"

#define SKIN_IMAGE_COUNT 16
#define SKIN_PATH_LEN 512
#define MAX_DISTBMP_NUM 50
#define SKIN_FONT_COUNT 10

// Slots of imagePath.
enum SkinImage {
    SKIN_DLG_GIF, SKIN_REL_VIDEO_GIF, SKIN_ARROW, SKIN_BOTTOM_BTN, SKIN_CLASSIFY_BTN, SKIN_DTL_BTN,
    SKIN_EMPTY_PIC, SKIN_PIC_BK, SKIN_INNER_TITLE_BAR, SKIN_PGRM_LOGO, SKIN_PGRM_UP_BAR, SKIN_RANK_BTN,
    SKIN_RANK_NUM_BK, SKIN_SRCH_BTN, SKIN_SRCH_CLEAR, SKIN_STUP_LOGO
};

// A rectangle as (x, y, width, height) in the client coordinates of its window.
struct LayoutRect {
    int x, y, w, h;
};

// The list rows of one orientation; positions inside a row are relative to its cell.
struct RowLayout {
    LayoutRect listRect;  // width and height of the list area
    LayoutRect rowRect;   // first cell; w x h is the scroller's item size
    POINT arrowPos;
    LayoutRect titleRect, durationRect, publisherRect;
    POINT thumbPos;
};

// The detail page of the current orientation (page coordinates).
struct DetailLayout {
    LayoutRect thumb, playBtn, title, duration, plays, published, tags, desc;
    int separatorY;       // -1 without a separator
    LayoutRect caption;   // x beyond the page when there is no caption
    POINT relatedStart;   // first related row
    int relatedWidth, relatedRowHeight, relatedGap, relatedColumns, relatedRows;
    POINT loadingPos;
};

// The help topic rows and the two text pages (page coordinates).
struct HelpLayout {
    int top;           // top of the first row
    int left, width;   // of every row
    int rowHeight, gap;
    LayoutRect helpText, aboutText;
};

// The search page (page coordinates).
struct SearchLayout {
    int historyShown;    // the history box, its label and 清空 are on the page
    int rowHeight;       // one history row
    int gap;             // between the box, the label and the history
    int editX, editY, editWidth, editHeight;  // the box inside its frame
    LayoutRect button, label, history, rowText, clear;
    POINT arrow;
};

struct Skin {
    wchar_t imagePath[SKIN_IMAGE_COUNT][SKIN_PATH_LEN];

    // Strips, held only while InitPicture cuts them.
    HBITMAP arrowStrip, tabStrip, channelStrip, detailStrip, rankStrip, searchStrip, searchClearStrip;

    // The 45 pictures, in this order.
    HBITMAP emptyPic, picBk, stupLogo, pgrmLogo, pgrmUpBar, innerTitleBar;
    HBITMAP tabBtn[12];      // tab k: pressed, normal, current
    HBITMAP rankBtn[6];      // button k: 2 looks
    HBITMAP channelBtn[12];  // button k: 2 looks
    HBITMAP searchBtn[2];
    HBITMAP searchClearBtn[2];
    HBITMAP detailBtn[2];
    HBITMAP arrow[2];
    HBITMAP rankNumBk;

    int longSide, shortSide;

    // Layout constants of the screen size, in table order.
    int textHeight;
    int hasArrow, showPublisher, landscapeColumns, showRelatedCaption, wideDetail;
    int startupMetric1, startupMetric2;
    int startupTextHeight;
    int mainMetric1;
    int titleMetric1, titleMetric2;
    int titleTextHeight;
    int thumbFramePen;
    int rowMetric1, rowMetric2;
    int rowMetric3;
    int thumbWidth, thumbHeight;
    int mainMetric2;
    int periodMetric1, periodMetric2, periodMetric3, periodMetric4, periodMetric5, periodMetric6;
    int periodTabWidth;
    int detailMetric1, detailMetric2;
    int relatedRowsPortrait, relatedRowsLandscape;
    int helpMetric1, helpMetric2, helpMetric3;
    int mainMetric3, mainMetric4, mainMetric5, mainMetric6;
    int searchMetric1;
    COLORREF mainColour;
    double fontFactor1, fontFactor2, fontFactor3, fontFactor4, fontFactor5, fontFactor6, fontFactor7;
    int mainMetric7;
    int mainMetric8, mainMetric9;
    int waitMetric1, waitMetric2;
    double mainScale;
    int mainMetric10;
    int waitMetric3, waitMetric4, waitMetric5, waitMetric6, waitMetric7, waitMetric8;
    int waitMetric9, waitMetric10;

    // Derived by the main window's layout pass.
    RowLayout portrait, landscape;
    int lineHeight;   // l: one text line of rows, the detail page and the help rows
    int titleBand;    // B: the title band of a row
    DetailLayout detail;
    LayoutRect pageRect;
    LayoutRect tabRect[4];
    int logoX;
    LayoutRect titleRect, titleRectRight;
    int periodTop, periodHeight;
    LayoutRect channelBtnRect[6];  // channel page buttons
    LayoutRect rankBtnRect[3];     // ranking page buttons
    double helpRowScale;
    HelpLayout help;
    SearchLayout search;
    LayoutRect startupTextRect;

    int periodCount;
    int* periodPos;
    CStringW* periodCaption;

    int searchHistoryCount;
    CStringW* searchHistory;

    LOGFONTW fonts[SKIN_FONT_COUNT];
};

extern Skin g_skin;

int InitSkin(Skin* skin, int index, CStringW folder, CStringW prefix);
int InitParam(Skin* skin, int index);
int InitPicture(Skin* skin, CStringW folder, CStringW prefix);
void ReleaseSkin(Skin* skin);
int SplitBmp(HBITMAP strip, HBITMAP* pieces, int count);
CStringW ChooseFontFace(HWND window);
int FileNameOffset(const wchar_t* path);

// Width and height of a picture (0 x 0 for none).
SIZE BitmapSize(HBITMAP bmp);
