#include "drawnRows.h"

#include <algorithm>

namespace apptest {

namespace {

const int kListBack = 0xEFEFEF;
const int kSeparator = 0x66BAF6;

// A pixel of the picture turned by a quarter when `columns`: rows become columns.
struct View {
    const Pixels& px;
    bool turned;
    int At(int along, int across) const { return turned ? px(across, along) : px(along, across); }
};

}  // namespace

bool IsInk(int rgb) {
    if (rgb < 0) return false;
    return ((rgb >> 16) & 255) < 110 && ((rgb >> 8) & 255) < 110 && (rgb & 255) < 110;
}

std::vector<Band> InkRows(const Pixels& px, const Box& area) {
    std::vector<Band> bands;
    for (int y = area.top; y <= area.bottom; ++y) {
        bool ink = false;
        for (int x = area.left; x <= area.right && !ink; ++x) ink = IsInk(px(x, y));
        if (!ink) continue;
        if (!bands.empty() && bands.back().last == y - 1)
            bands.back().last = y;
        else
            bands.push_back(Band{y, y});
    }
    return bands;
}

Box BoxOf(const Pixels& px, const Box& area, int colour) {
    Box b{area.right + 1, area.bottom + 1, area.left - 1, area.top - 1};
    for (int y = area.top; y <= area.bottom; ++y)
        for (int x = area.left; x <= area.right; ++x)
            if (px(x, y) == colour) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
            }
    return b.right < b.left ? Box{} : b;
}

DrawnList ReadList(const Pixels& px, int width, int height, bool columns, int frameColour) {
    DrawnList list;
    // The list area: the longest run of the screen's left column in list colours.
    int start = -1;
    for (int y = 0; y <= height; ++y) {
        int c = y < height ? px(1, y) : -1;
        bool listy = c == kListBack || c == kSeparator;
        if (listy && start < 0) start = y;
        if (!listy && start >= 0) {
            if (y - start > list.bottom - list.top + 1) {
                list.top = start;
                list.bottom = y - 1;
            }
            start = -1;
        }
    }
    if (list.top < 0) return list;

    // Separators: lines across at least half of the list in the separator colour.
    int length = columns ? width : list.bottom - list.top + 1;  // along the rows' run
    int span = columns ? list.bottom - list.top + 1 : width;     // across a separator
    int first = columns ? 0 : list.top;
    View v{px, columns};
    std::vector<int> separators;
    for (int i = first; i < first + length; ++i) {
        int n = 0;
        for (int j = 0; j < span; ++j) n += v.At(columns ? j + list.top : j, i) == kSeparator ? 1 : 0;
        if (2 * n >= span) separators.push_back(i);
    }

    int begin = first;
    for (int s : separators) {
        if (s <= begin) {
            begin = s + 1;
            continue;
        }
        DrawnRow row;
        if (columns) {
            row.cell = Box{begin, list.top, s - 1, list.bottom};
            row.frame = BoxOf(px, Box{begin > 0 ? begin - 1 : 0, list.top, s, list.bottom}, frameColour);
            int textTop = row.frame.empty() ? list.top : row.frame.bottom + 2;
            row.lines = InkRows(px, Box{begin, textTop, s - 1, list.bottom});
            for (int y = list.top; y <= list.bottom && !row.inkOnSeparator; ++y) row.inkOnSeparator = IsInk(px(s, y));
        } else {
            row.cell = Box{0, begin, width - 1, s - 1};
            int above = begin > list.top ? begin - 1 : begin;
            row.frame = BoxOf(px, Box{0, above, width - 1, s}, frameColour);
            int textLeft = row.frame.empty() ? 0 : row.frame.right + 2;
            row.lines = InkRows(px, Box{textLeft, begin, width - 1, s - 1});
            for (int x = textLeft; x < width && !row.inkOnSeparator; ++x) row.inkOnSeparator = IsInk(px(x, s));
        }
        list.rows.push_back(row);
        begin = s + 1;
    }
    return list;
}

bool FrameInsideRow(const DrawnList& list, const DrawnRow& row, bool columns) {
    const Box &f = row.frame, &c = row.cell;
    if (columns) return f.left > c.left && f.right < c.right && f.top > list.top;
    return f.top > c.top && f.bottom < c.bottom;
}

std::string Describe(const Box& b) {
    return "(" + std::to_string(b.left) + "," + std::to_string(b.top) + ")-(" + std::to_string(b.right) + "," +
           std::to_string(b.bottom) + ")";
}

}  // namespace apptest
