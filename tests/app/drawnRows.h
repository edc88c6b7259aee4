// What the screen shows of the list rows and of the detail page, read from its pixels alone
// (by their colours), so that a test can tell whether thumbnails keep inside their rows and
// whether text lines stay apart, whatever the layout computed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace apptest {

// A screen's pixel as 0xRRGGBB, or -1 outside it.
using Pixels = std::function<int(int x, int y)>;

// Dark enough to be text (the rows and pages write in black on light backgrounds).
bool IsInk(int rgb);

struct Box {
    int left = 0, top = 0, right = -1, bottom = -1;  // inclusive; empty when right < left
    bool empty() const { return right < left || bottom < top; }
};

// Rows of ink: the first and last screen row (or column) of one run that carries text.
struct Band {
    int first, last;
    int size() const { return last - first + 1; }
};

// One list row that shows whole: between two separators, or between the top of the list
// and its first separator. With columns, "rows" run across and everything is turned.
struct DrawnRow {
    Box cell;                 // inside its separators (the list's top closes the first)
    Box frame;                // the thumbnail frame's pixels, the separators included
    std::vector<Band> lines;  // text beside the thumbnail (below it in columns)
    bool inkOnSeparator = false;
};

struct DrawnList {
    int top = -1, bottom = -1;  // screen rows of the list area
    std::vector<DrawnRow> rows;
};

// The list view of a screen (width x height): its area is where the list background and
// separators reach the screen's left column; rows are closed by separator lines (at their
// bottom, or at the right of columns) and the frame has the given colour.
DrawnList ReadList(const Pixels& px, int width, int height, bool columns, int frameColour);

// Whether a row's thumbnail frame keeps a free line of pixels between itself and each of
// the row's separators (and the list's top, which closes the first row of columns).
bool FrameInsideRow(const DrawnList& list, const DrawnRow& row, bool columns);
// A box as "(left,top)-(right,bottom)", for a failing test's message.
std::string Describe(const Box& box);

// Runs of screen rows inside `area` that carry ink.
std::vector<Band> InkRows(const Pixels& px, const Box& area);
// The bounding box of the pixels of `colour` inside `area`.
Box BoxOf(const Pixels& px, const Box& area, int colour);

}  // namespace apptest
