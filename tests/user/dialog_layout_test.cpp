// The main window's template as the dialog manager builds it: every control's id, kind, text,
// position, order and style, the pixels they come to, and the texts drawn where they belong.
#include "dialog_fixture.h"

#include <QDir>
#include <QFontMetrics>
#include <QLineEdit>
#include <QScreen>
#include <QTextLayout>

namespace {

enum Kind { EdgePush, Push, MultiPush, Group, ReadOnly, EdgeReadOnly, Label, SunkenLabel, Number, Spinner, Unit };

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kBothEdges = WS_EX_CLIENTEDGE | WS_EX_STATICEDGE;
const DWORD kSpin = UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_HORZ | UDS_NOTHOUSANDS | WS_TABSTOP;
const DWORD kReadOnly = WS_BORDER | ES_AUTOHSCROLL | ES_READONLY | ES_NUMBER;  // no tab stop

// Each kind's class, style besides WS_CHILD | WS_VISIBLE, and extended style.
struct KindStyle { const char* cls; DWORD style, exStyle; };
const KindStyle kStyles[] = {
    {"Button", BS_PUSHBUTTON | WS_TABSTOP, WS_EX_STATICEDGE},
    {"Button", BS_PUSHBUTTON | WS_TABSTOP, 0},
    {"Button", BS_PUSHBUTTON | WS_TABSTOP | BS_MULTILINE, 0},
    {"Button", BS_GROUPBOX, 0},
    {"Edit", kReadOnly, kBothEdges},
    {"Edit", kReadOnly, WS_EX_STATICEDGE},
    {"Static", SS_LEFT | WS_GROUP, 0},
    {"Static", SS_LEFT | WS_GROUP | SS_SUNKEN, 0},
    {"Edit", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER, kBothEdges},
    {UPDOWN_CLASSA, kSpin, kBothEdges},
    {"Button", BS_AUTORADIOBUTTON | BS_PUSHLIKE | BS_FLAT | WS_TABSTOP, 0},
};

struct Row {
    int id;
    Kind kind;
    const char* text;  // nullptr: a number field, empty in the template, filled by its spinner
    int x, y, w, h;
    DWORD extra = 0;   // style bits of this control only
};

// The main window's controls in template order.
const Row kMainWindow[] = {
    {1, EdgePush, "REC", 164, 23, 46, 14},
    {2, EdgePush, "PAUSE", 213, 23, 46, 14},
    {3, EdgePush, "STOP ALL", 164, 37, 46, 14},
    {4, EdgePush, "RESUME", 213, 37, 46, 14},
    {5, EdgePush, "GRAB SINGLE FRAME", 164, 53, 95, 21},
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
    {123, Spinner, "", 354, 26, 19, 12, UDS_ARROWKEYS},  // the only spinner taking arrow keys
    {21, Number, nullptr, 331, 39, 22, 12},
    {23, Spinner, "", 354, 39, 19, 12},
    {126, Label, "Speed Fps", 275, 29, 52, 11},
    {128, EdgeReadOnly, "", 13, 124, 51, 11},
    {129, SunkenLabel, "Captured frames so far !", 67, 124, 82, 11},
    {16, Unit, "Seconds", 275, 56, 43, 10, WS_GROUP},  // one group, closed by the next WS_GROUP
    {17, Unit, "Minutes", 327, 56, 43, 10},
    {18, Unit, "Hours", 275, 69, 43, 10},
    {19, Unit, "Days", 327, 69, 43, 10},
    {135, Group, "Timing Controls", 268, 10, 110, 75, WS_GROUP},
    {136, Group, "", 10, 136, 143, 37},
    {137, Group, "Record Control", 158, 10, 111, 75},
    {10, Push, "CaptureFile", 172, 142, 47, 30},
    {11, Push, "Video Player", 220, 142, 47, 30},
    {12, Push, "Help", 268, 142, 47, 15},
    {13, Push, "QuickHelp", 268, 157, 47, 15},
    {14, Push, "About", 316, 142, 47, 15},
    {15, Push, "Exit", 316, 157, 47, 15},
};

// Dialog units to pixels with the 8 pt dialog font's base units.
QRect pixels(int x, int y, int w, int h)
{
    return QRect(mulDiv(x, 6, 4), mulDiv(y, 13, 8), mulDiv(w, 6, 4), mulDiv(h, 13, 8));
}

using UserMainLayout = DialogTest;

TEST_F(UserMainLayout, TemplateAndControlsMatchTheLayoutTable)
{
    using kelvra::platform::findDialogTemplate;
    const DialogTemplate* t = findDialogTemplate(MAKEINTRESOURCE(104));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(findDialogTemplate("#104"), t);
    EXPECT_EQ(findDialogTemplate(MAKEINTRESOURCE(105)), nullptr);
    EXPECT_EQ(findDialogTemplate("no such template"), nullptr);
    EXPECT_EQ(t->caption, "Kelvra Time-lapse V1.2");
    EXPECT_EQ(t->fontFace, "Helv");
    EXPECT_EQ(t->pointSize, 8);
    EXPECT_EQ(QRect(t->x, t->y, t->cx, t->cy), QRect(10, -4, 390, 181));
    EXPECT_EQ(t->style, DS_SETFONT | DS_3DLOOK | WS_MINIMIZEBOX | WS_VISIBLE | WS_CAPTION | WS_SYSMENU)
        << "no WS_POPUP, no maximize box, no thick frame";
    EXPECT_EQ(t->exStyle, DWORD(WS_EX_CLIENTEDGE));
    ASSERT_EQ(t->items.size(), std::size(kMainWindow));

    dlg = create(104);
    ASSERT_TRUE(IsWindow(dlg));
    kelvra::platform::BaseUnits units = kelvra::platform::dialogBaseUnits(dlg);
    EXPECT_EQ(std::pair(units.x, units.y), std::pair(6, 13)) << "the 8 pt font as Windows' at 96 dpi";
    QWidget* w = widgetFromHandle(dlg);
    EXPECT_EQ(w->size(), QSize(585, 294)) << "390 x 181 dialog units";
    EXPECT_EQ(w->windowTitle(), "Kelvra Time-lapse V1.2");
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "fixed size";
    // No owner: placed from the screen's corner, frame kept on the work area.
    QRect work = w->screen()->availableGeometry();
    EXPECT_EQ(w->geometry().left(), work.left() + mulDiv(10, 6, 4));
    EXPECT_GE(w->geometry().top(), work.top());

    for (size_t i = 0; i < std::size(kMainWindow); ++i) {
        const Row& row = kMainWindow[i];
        const DialogItemTemplate& item = t->items[i];
        SCOPED_TRACE("control " + std::to_string(row.id));
        EXPECT_EQ(item.id, row.id);
        EXPECT_EQ(item.text, row.text ? row.text : "");
        EXPECT_EQ(QRect(item.x, item.y, item.cx, item.cy), QRect(row.x, row.y, row.w, row.h));
        EXPECT_EQ(item.className, kStyles[row.kind].cls);
        EXPECT_EQ(item.style, kChild | kStyles[row.kind].style | row.extra);
        EXPECT_EQ(item.exStyle, kStyles[row.kind].exStyle);

        HWND h = GetDlgItem(dlg, row.id);
        ASSERT_TRUE(IsWindow(h));
        EXPECT_EQ(GetParent(h), dlg);
        EXPECT_TRUE(IsWindowEnabled(h));
        QWidget* c = widgetFromHandle(h);
        EXPECT_EQ(c->geometry(), pixels(row.x, row.y, row.w, row.h));
        if (!row.text || row.kind == Spinner)
            continue;
        EXPECT_EQ(text(row.id), row.text);
        // Single-line texts are not cut: push buttons lose their bevel and a pixel on each side.
        int bevel = row.kind == SunkenLabel ? 2 : row.kind == Label || row.kind == Group ? 0 : 2 * 3;
        for (const QString& word : row.kind == MultiPush ? QString(row.text).split(' ', Qt::SkipEmptyParts)
                                                        : QStringList{row.text})
            EXPECT_LE(QFontMetrics(c->font()).horizontalAdvance(word), c->width() - bevel) << word.toStdString();
    }
}

TEST_F(UserMainLayout, QuickReferenceEntriesEachStartALine)
{
    // The entries are laid out with runs of blanks: wrapped at the label's width, each must
    // begin a line of its own, and all lines must be visible.
    dlg = create(900);
    const std::pair<int, QStringList> labels[] = {
        {902, {"REC", "STOPALL", "PAUSE", "RESUME"}},
        {903, {"GRAB SINGLE FRAME", "CAPTURE FILE", "VIDEO PLAYER"}},
    };
    for (const auto& [id, starts] : labels) {
        SCOPED_TRACE(id);
        QWidget* w = item(id);
        QString t = QString::fromStdString(text(id));
        QTextLayout layout(t, w->font());  // wraps at word boundaries, as the label does
        layout.beginLayout();
        QStringList lines;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(w->width());
            lines.push_back(t.mid(line.textStart(), line.textLength()).trimmed());
        }
        layout.endLayout();
        ASSERT_EQ(lines.size(), starts.size());
        EXPECT_LE(lines.size() * QFontMetrics(w->font()).height(), w->height());
        for (qsizetype i = 0; i < lines.size(); ++i)
            EXPECT_TRUE(lines[i].startsWith(starts[i])) << lines[i].toStdString();
    }
}

TEST_F(UserMainLayout, OwnedDialogsArePlacedFromTheOwnersClientArea)
{
    HWND main = create(104);
    widgetFromHandle(main)->move(200, 150);
    // (x, y) in dialog units from the owner's client area; sizes in their own font's units.
    for (auto [id, x, y, size] : {std::tuple{600, 37, 127, QSize(446, 78)}, {200, 119, 55, QSize(270, 172)},
                                  {900, 47, 0, QSize(321, 226)}}) {
        SCOPED_TRACE(id);
        HWND d = create(id, main);
        ASSERT_TRUE(IsWindow(d));
        QWidget* w = widgetFromHandle(d);
        EXPECT_EQ(w->size(), size);
        EXPECT_EQ(GetParent(d), main) << "owned by the main window";
        QPoint expected = widgetFromHandle(main)->mapToGlobal(pixels(x, y, 0, 0).topLeft());
        if (expected.y() >= w->screen()->availableGeometry().top() + 21) {
            EXPECT_EQ(w->geometry().topLeft(), expected);
        }
        EXPECT_FALSE(IsWindowVisible(d)) << "no WS_VISIBLE: hidden until shown";
    }
}

TEST_F(UserMainLayout, EveryTextIsDrawnInsideItsControl)
{
    // Also writes the pictures to shots/ for a look.
    for (auto [id, name] :
         {std::pair{104, "main-104"}, {200, "about-200"}, {600, "player-600"}, {900, "quickhelp-900"}}) {
        SCOPED_TRACE(name);
        dlg = create(id);
        ASSERT_TRUE(IsWindow(dlg));
        if (id == 104) {  // the texts the program writes at start, so the picture looks as it will
            for (auto [field, value] : {std::pair{111, "OFF"}, {112, "READY"}, {20, "15"}, {128, "0"}})
                SetDlgItemTextA(dlg, field, value);
            CheckDlgButton(dlg, 16, BST_CHECKED);
        }
        QWidget* w = widgetFromHandle(dlg);
        w->show();
        QCoreApplication::processEvents();
        QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(image.size(), w->size());
        QDir().mkpath(KELVRA_SOURCE_DIR "/shots");
        image.save(QString(KELVRA_SOURCE_DIR "/shots/") + name + ".png");
        for (const DialogItemTemplate& control : kelvra::platform::findDialogTemplate(MAKEINTRESOURCE(id))->items) {
            if (text(control.id).empty())
                continue;
            QRect inside = item(control.id)->geometry().adjusted(3, 3, -3, -3);
            EXPECT_GT(inkIn(image, inside, w->palette().window().color().rgb()), 10) << "control " << control.id;
        }
    }
}

}  // namespace

namespace {
using UserNumberFields = DialogTest;

// The number fields are 22 dialog units wide; the largest count the spinners take, five digits,
// is shown whole (the field draws it narrower), and a longer text still scrolls into view.
TEST_F(UserNumberFields, FiveDigitsShowWholeInTheTemplatesFields)
{
    dlg = create(104);
    ASSERT_TRUE(IsWindow(dlg));
    widgetFromHandle(dlg)->show();
    for (int id : {20, 21}) {
        SCOPED_TRACE(id);
        auto* field = qobject_cast<QLineEdit*>(item(id));
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->width(), mulDiv(22, 6, 4)) << "the template's size stays";
        for (const char* value : {"7", "99999", "12345"}) {
            SetDlgItemTextA(dlg, id, value);
            const QMargins m = field->textMargins();
            const int room = field->width() - m.left() - m.right() - 2 * 2 - 1;  // QLineEdit's own margin, the cursor
            const int needed = QFontMetrics(field->font()).horizontalAdvance(QString::fromLatin1(value));
            EXPECT_LE(needed, room) << value;
        }
    }
    SetDlgItemTextA(dlg, 20, "15");
    SetDlgItemTextA(dlg, 21, "12345");
    QCoreApplication::processEvents();
    const QImage timing = widgetFromHandle(dlg)->grab(pixels(268, 10, 110, 75)).toImage();
    EXPECT_GT(inkIn(timing, item(21)->geometry().translated(-pixels(268, 10, 0, 0).topLeft()).adjusted(3, 3, -3, -3),
                    widgetFromHandle(dlg)->palette().base().color().rgb()), 10);
    if (const char* shots = std::getenv("KELVRA_SHOTS_DIR")) {
        EXPECT_TRUE(QDir().mkpath(shots) && timing.scaled(timing.size() * 3).save(QDir(shots).filePath("timing-five-digits.png")));
    }
}
}  // namespace
