// The built program on each of the ten screen forms, run headless against the sample
// service: its home list and the detail page of one of its rows, read from the screenshots
// by their colours alone. Thumbnails keep inside their rows and below the title bar, text
// lines stay apart and clear of the separators and of the tab bar.
#include <gtest/gtest.h>

#include <string>

#include "drawnRows.h"
#include "helpers.h"
#include "programRun.h"

namespace {

using apptest::Band;
using apptest::Box;
using apptest::DrawnList;
using apptest::DrawnRow;
using apptest::InstalledProgram;
using apptest::Shot;
using nettest::SampleService;

const int kListFrame = 0x008CF0;    // the thumbnail frame of the rows
const int kDetailFrame = 0x0384C4;  // the thumbnail frame of the detail page
const int kPageBack = 0xEFEFEF;     // list and detail page background
const int kSeparator = 0x66BAF6;    // row separators, and the detail page's rule
const int kTabArea = 0x8BCCED;      // behind the tab buttons

struct Form {
    int width, height;
    int textHeight;  // the cell of the body font: the skin's base font height of the size
    bool publisher;  // the rows write the publisher (the large screens)
    bool columns;    // landscape rows stand side by side (the large screens)
};
void PrintTo(const Form& f, std::ostream* os) { *os << f.width << "x" << f.height; }

class FormsRun : public testing::TestWithParam<Form> {};

apptest::Pixels Of(const Shot& shot) {
    return [&shot](int x, int y) { return shot.At(x, y); };
}

// The first screen row at or below `from` whose pixel in column x has `colour`; -1 if none.
int RowWith(const Shot& shot, int x, int from, int height, int colour) {
    for (int y = from; y < height; ++y)
        if (shot.At(x, y) == colour) return y;
    return -1;
}

TEST_P(FormsRun, RowsAndTheDetailPageKeepTheirThumbnailsAndTextLinesApart) {
    const Form f = GetParam();
    SampleService service;
    InstalledProgram p(service);
    std::string d = p.dir().path();
    // A tap halfway down the screen's left edge lands on a row of the list on every form.
    std::string script = "wait idle\nscreenshot " + d + "/home.png\ntap 30 " + std::to_string(f.height / 2) +
                         "\nwait idle\nscreenshot " + d + "/detail.png\nquit\n";
    int status = p.Run(script, 60000, std::to_string(f.width) + "x" + std::to_string(f.height));
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    Shot home(d + "/home.png"), detail(d + "/detail.png");
    ASSERT_TRUE(home.ok() && detail.ok());

    DrawnList list = apptest::ReadList(Of(home), f.width, f.height, f.columns, kListFrame);
    ASSERT_GE(list.top, 0) << "no list on the home screen";
    ASSERT_FALSE(list.rows.empty()) << "no whole row";
    for (size_t i = 0; i < list.rows.size(); ++i) {
        const DrawnRow& row = list.rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        ASSERT_FALSE(row.frame.empty());
        EXPECT_TRUE(FrameInsideRow(list, row, f.columns))
            << "frame " << Describe(row.frame) << " in cell " << Describe(row.cell) << ", list top " << list.top;
        EXPECT_GE(row.lines.size(), f.publisher ? 3u : 2u);
        for (const Band& b : row.lines) EXPECT_LE(b.size(), f.textHeight) << "lines run into each other at " << b.first;
        EXPECT_FALSE(row.inkOnSeparator);
        if (!row.lines.empty()) {
            EXPECT_LT(row.lines.back().last, row.cell.bottom) << "text reaches the separator";
        }
    }

    // The detail page: below the title bar (the first row of page colour at the right edge)
    // down to the tab bar.
    int top = RowWith(detail, f.width - 2, 0, f.height, kPageBack);
    ASSERT_GT(top, 0) << "no detail page";
    int bottom = RowWith(detail, 1, top, f.height, kTabArea);
    ASSERT_GT(bottom, top) << "no tab bar below the detail page";
    Box frame = apptest::BoxOf(Of(detail), Box{0, 0, f.width - 1, bottom - 1}, kDetailFrame);
    ASSERT_FALSE(frame.empty()) << "no thumbnail on the detail page";
    EXPECT_GT(frame.top, top) << "the thumbnail reaches into the title bar";
    // Nothing is cut by the tab bar: the page's last row is free of text.
    EXPECT_TRUE(apptest::InkRows(Of(detail), Box{0, bottom - 1, f.width - 1, bottom - 1}).empty())
        << "a text line runs into the tab bar";
    // Title, duration and plays, tags and description beside and below the thumbnail, each
    // on its own line, down to the rule above the related videos where there is one.
    int end = bottom - 1;
    for (int y = top; y < bottom; ++y) {
        int n = 0;
        for (int x = 0; x < f.width; ++x) n += detail.At(x, y) == kSeparator ? 1 : 0;
        if (2 * n >= f.width) {
            end = y - 1;
            break;
        }
    }
    std::vector<Band> lines = apptest::InkRows(Of(detail), Box{frame.right + 2, top, f.width - 1, end});
    EXPECT_GE(lines.size(), 4u);
    for (const Band& b : lines) EXPECT_LE(b.size(), f.textHeight) << "detail lines run into each other at " << b.first;
}

INSTANTIATE_TEST_SUITE_P(Forms, FormsRun,
                         testing::Values(Form{800, 480, 23, true, true}, Form{480, 800, 23, true, false},
                                         Form{640, 480, 20, true, true}, Form{480, 640, 20, true, false},
                                         Form{480, 320, 20, false, false}, Form{320, 480, 20, false, false},
                                         Form{400, 240, 17, false, false}, Form{240, 400, 17, false, false},
                                         Form{320, 240, 14, false, false}, Form{240, 320, 14, false, false}),
                         [](const testing::TestParamInfo<Form>& i) {
                             return std::to_string(i.param.width) + "x" + std::to_string(i.param.height);
                         });

}  // namespace
