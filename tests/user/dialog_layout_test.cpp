// The main window's template as the dialog manager builds it: every control's id, kind, text,
// position, order and style, and the pixels they come to.
#include "dialog_fixture.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QScreen>
#include <QTextLayout>

namespace {

enum Kind { Push, MultiPush, Group, ReadOnly, Label, SunkenLabel, Number, Spinner, Unit };

struct Row {
    int id;
    Kind kind;
    const char* text;
    int x, y, w, h;
};

// The main window's controls in template order.
const Row kMainWindow[] = {
    {1, Push, "REC", 164, 23, 46, 14},
    {2, Push, "PAUSE", 213, 23, 46, 14},
    {3, Push, "STOP ALL", 164, 37, 46, 14},
    {4, Push, "RESUME", 213, 37, 46, 14},
    {5, Push, "GRAB SINGLE FRAME", 164, 53, 95, 21},
    {6, MultiPush, "Video  Source", 172, 99, 47, 32},
    {102, Group, "Preview Video", 10, 9, 143, 129},
    {103, Group, "Video Input Controls", 157, 87, 221, 51},
    {7, MultiPush, "Video  Format", 220, 99, 47, 32},
    {8, MultiPush, "Video Compression", 268, 99, 47, 32},
    {9, MultiPush, "Toggle Overlay", 316, 99, 47, 32},
    {111, ReadOnly, "", 81, 142, 53, 12},
    {112, ReadOnly, "", 81, 155, 53, 12},
    {114, Label, "Capture Every", 275, 43, 52, 11},
    {115, Label, "Overlay mode is", 24, 145, 52, 11},
    {116, Label, "Status ", 25, 159, 52, 11},
    {20, Number, nullptr, 331, 26, 22, 12},
    {123, Spinner, "", 354, 26, 19, 12},
    {21, Number, nullptr, 331, 39, 22, 12},
    {23, Spinner, "", 354, 39, 19, 12},
    {126, Label, "Speed Fps", 275, 29, 52, 11},
    {128, ReadOnly, "", 13, 124, 51, 11},
    {129, SunkenLabel, "Captured frames so far !", 67, 124, 82, 11},
    {16, Unit, "Seconds", 275, 56, 43, 10},
    {17, Unit, "Minutes", 327, 56, 43, 10},
    {18, Unit, "Hours", 275, 69, 43, 10},
    {19, Unit, "Days", 327, 69, 43, 10},
    {135, Group, "Timing Controls", 268, 10, 110, 75},
    {136, Group, "", 10, 136, 143, 37},
    {137, Group, "Record Control", 158, 10, 111, 75},
    {10, Push, "CaptureFile", 172, 142, 47, 30},
    {11, Push, "Video Player", 220, 142, 47, 30},
    {12, Push, "Help", 268, 142, 47, 15},
    {13, Push, "QuickHelp", 268, 157, 47, 15},
    {14, Push, "About", 316, 142, 47, 15},
    {15, Push, "Exit", 316, 157, 47, 15},
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;

// What the main window's template gives each kind of control.
void expectStyle(const Row& row, const DialogItemTemplate& item)
{
    const DWORD bothEdges = WS_EX_CLIENTEDGE | WS_EX_STATICEDGE;
    switch (row.kind) {
    case Push:
    case MultiPush: {
        EXPECT_EQ(item.className, "Button");
        DWORD style = kChild | BS_PUSHBUTTON | WS_TABSTOP | (row.kind == MultiPush ? BS_MULTILINE : 0);
        EXPECT_EQ(item.style, style);
        EXPECT_EQ(item.exStyle, row.id <= 5 ? DWORD(WS_EX_STATICEDGE) : 0u) << "1 to 5 have a static edge";
        break;
    }
    case Group:
        EXPECT_EQ(item.className, "Button");
        EXPECT_EQ(item.style, kChild | BS_GROUPBOX | (row.id == 135 ? WS_GROUP : 0));
        break;
    case ReadOnly:
        EXPECT_EQ(item.className, "Edit");
        EXPECT_EQ(item.style, kChild | WS_BORDER | ES_AUTOHSCROLL | ES_READONLY | ES_NUMBER)
            << "no tab stop";
        EXPECT_EQ(item.exStyle, row.id == 128 ? DWORD(WS_EX_STATICEDGE) : bothEdges);
        break;
    case Number:
        EXPECT_EQ(item.className, "Edit");
        EXPECT_EQ(item.style, kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER);
        EXPECT_EQ(item.exStyle, bothEdges);
        break;
    case Label:
    case SunkenLabel:
        EXPECT_EQ(item.className, "Static");
        EXPECT_EQ(item.style, kChild | SS_LEFT | WS_GROUP | (row.kind == SunkenLabel ? SS_SUNKEN : 0));
        break;
    case Spinner:
        EXPECT_EQ(item.className, UPDOWN_CLASSA);
        EXPECT_EQ(item.style, kChild | UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_HORZ | UDS_NOTHOUSANDS |
                                  WS_TABSTOP | (row.id == 123 ? UDS_ARROWKEYS : 0))
            << "only spinner 123 takes the arrow keys";
        EXPECT_EQ(item.exStyle, bothEdges);
        break;
    case Unit:
        EXPECT_EQ(item.className, "Button");
        EXPECT_EQ(item.style, kChild | BS_AUTORADIOBUTTON | BS_PUSHLIKE | BS_FLAT | WS_TABSTOP |
                                  (row.id == 16 ? WS_GROUP : 0))
            << "one group, opened by Seconds and closed by the next WS_GROUP";
        break;
    }
}

TEST(UserMainTemplate, MatchesTheLayoutTable)
{
    const DialogTemplate* t = kelvra::platform::findDialogTemplate(MAKEINTRESOURCE(104));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->caption, "Kelvra Time-lapse V1.2");
    EXPECT_EQ(t->fontFace, "Helv");
    EXPECT_EQ(t->pointSize, 8);
    EXPECT_EQ((std::array{t->x, t->y, t->cx, t->cy}), (std::array{10, -4, 390, 181}));
    EXPECT_EQ(t->style, DS_SETFONT | DS_3DLOOK | WS_MINIMIZEBOX | WS_VISIBLE | WS_CAPTION | WS_SYSMENU)
        << "no WS_POPUP, no maximize box, no thick frame";
    EXPECT_EQ(t->exStyle, DWORD(WS_EX_CLIENTEDGE));
    ASSERT_EQ(t->items.size(), std::size(kMainWindow));
    for (size_t i = 0; i < std::size(kMainWindow); ++i) {
        const Row& row = kMainWindow[i];
        const DialogItemTemplate& item = t->items[i];
        SCOPED_TRACE("control " + std::to_string(row.id));
        EXPECT_EQ(item.id, row.id);
        if (row.text) {
            EXPECT_EQ(item.text, row.text);
        }
        EXPECT_EQ((std::array{item.x, item.y, item.cx, item.cy}), (std::array{row.x, row.y, row.w, row.h}));
        expectStyle(row, item);
    }
}

class UserMainLayout : public DialogTest {};

TEST_F(UserMainLayout, ControlsSitAtTheirDialogUnits)
{
    HWND dlg = create(104);
    ASSERT_TRUE(IsWindow(dlg));
    BaseUnits units = kelvra::platform::dialogBaseUnits(dlg);
    // The 8 pt dialog font measures as Windows' at 96 dpi: 6 x 13.
    EXPECT_EQ(units.x, 6);
    EXPECT_EQ(units.y, 13);
    QWidget* w = widgetFromHandle(dlg);
    EXPECT_EQ(w->size(), QSize(585, 294)) << "390 x 181 dialog units";
    EXPECT_EQ(w->windowTitle(), "Kelvra Time-lapse V1.2");
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "fixed size";
    // No owner: placed from the screen's corner, frame kept on the work area.
    QRect work = w->screen()->availableGeometry();
    EXPECT_EQ(w->geometry().left(), work.left() + kelvra::platform::mulDiv(10, 6, 4));
    EXPECT_GE(w->geometry().top(), work.top());

    for (const Row& row : kMainWindow) {
        SCOPED_TRACE("control " + std::to_string(row.id));
        HWND h = GetDlgItem(dlg, row.id);
        ASSERT_TRUE(IsWindow(h));
        EXPECT_EQ(GetDlgCtrlID(h), row.id);
        EXPECT_EQ(GetParent(h), dlg);
        QRect expected(kelvra::platform::mulDiv(row.x, 6, 4), kelvra::platform::mulDiv(row.y, 13, 8),
                       kelvra::platform::mulDiv(row.w, 6, 4), kelvra::platform::mulDiv(row.h, 13, 8));
        EXPECT_EQ(widgetFromHandle(h)->geometry(), expected);
        if (row.text && row.kind != Spinner) {
            EXPECT_EQ(text(dlg, row.id), row.text);
        }
        EXPECT_TRUE(IsWindowEnabled(h)) << "every control is enabled";
    }
    EXPECT_EQ(text(dlg, 21), "1") << "a spinner starts at 1 and writes it into its field";
    EXPECT_EQ(text(dlg, 20), "1");
}

TEST_F(UserMainLayout, TextsFitTheirControls)
{
    // Single-line texts must not be cut: push buttons within their bevel, labels within width.
    HWND dlg = create(104);
    for (const Row& row : kMainWindow) {
        if (!row.text || !*row.text || row.kind == MultiPush || row.kind == Spinner)
            continue;
        SCOPED_TRACE(row.text);
        QWidget* w = widgetFromHandle(GetDlgItem(dlg, row.id));
        // Push buttons lose their bevel and a pixel on each side; labels draw from edge to edge.
        int room = w->width() - (row.kind == Push || row.kind == Unit ? 2 * 3 : row.kind == SunkenLabel ? 2 : 0);
        EXPECT_LE(QFontMetrics(w->font()).horizontalAdvance(row.text), room);
    }
    // The multi-line buttons: each word fits on a line.
    for (int id : {6, 7, 8, 9}) {
        QWidget* w = widgetFromHandle(GetDlgItem(dlg, id));
        for (const QString& word : QString::fromStdString(text(dlg, id)).split(' ', Qt::SkipEmptyParts))
            EXPECT_LE(QFontMetrics(w->font()).horizontalAdvance(word), w->width() - 6) << word.toStdString();
    }
}

TEST_F(UserMainLayout, QuickReferenceEntriesEachStartALine)
{
    // The quick reference lays out its entries with runs of blanks: wrapped at the label's
    // width, every entry must begin a line of its own, as the text was written for.
    HWND dlg = create(900);
    struct Label {
        int id;
        std::vector<QString> starts;
    };
    const Label labels[] = {
        {902, {"REC", "STOPALL", "PAUSE", "RESUME"}},
        {903, {"GRAB SINGLE FRAME", "CAPTURE FILE", "VIDEO PLAYER"}},
    };
    for (const Label& l : labels) {
        QWidget* w = item(dlg, l.id);
        QString t = QString::fromStdString(text(dlg, l.id));
        QTextLayout layout(t, w->font());
        QTextOption option;
        option.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        std::vector<QString> starts;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(w->width());
            starts.push_back(t.mid(line.textStart(), line.textLength()).trimmed());
        }
        layout.endLayout();
        ASSERT_EQ(starts.size(), l.starts.size()) << l.id;
        int height = static_cast<int>(starts.size()) * QFontMetrics(w->font()).height();
        EXPECT_LE(height, w->height()) << "all lines visible in label " << l.id;
        for (size_t i = 0; i < starts.size(); ++i)
            EXPECT_TRUE(starts[i].startsWith(l.starts[i])) << starts[i].toStdString();
    }
}

TEST_F(UserMainLayout, OwnedDialogsArePlacedFromTheOwnersClientArea)
{
    HWND main = create(104);
    QWidget* mainWidget = widgetFromHandle(main);
    mainWidget->move(200, 150);
    struct Expect {
        int id;
        int x, y;
        QSize size;
    };
    // (x, y) in dialog units from the owner's client area; sizes from the templates.
    const Expect dialogs[] = {
        {600, 37, 127, QSize(446, 78)},
        {200, 119, 55, QSize(270, 172)},
        {900, 47, 0, QSize(321, 226)},
    };
    for (const Expect& e : dialogs) {
        SCOPED_TRACE(e.id);
        HWND d = create(e.id, main);
        ASSERT_TRUE(IsWindow(d));
        QWidget* w = widgetFromHandle(d);
        EXPECT_EQ(w->size(), e.size);
        EXPECT_EQ(GetParent(d), main) << "owned by the main window";
        QPoint expected = mainWidget->mapToGlobal(QPoint(kelvra::platform::mulDiv(e.x, 6, 4),
                                                         kelvra::platform::mulDiv(e.y, 13, 8)));
        QRect work = w->screen()->availableGeometry();
        if (expected.y() >= work.top() + 21) {
            EXPECT_EQ(w->geometry().topLeft(), expected);
        }
        EXPECT_FALSE(IsWindowVisible(d)) << "no WS_VISIBLE: hidden until shown";
        DestroyWindow(d);
    }
}

}  // namespace
