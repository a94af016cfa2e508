// The Static class: labels that wrap at their width (SS_LEFT, SS_CENTER, SS_RIGHT), single-line
// labels (SS_LEFTNOWORDWRAP, SS_SIMPLE), icons (SS_ICON), with SS_SUNKEN and border edges.
#include "controls.h"
#include "dialog_impl.h"

#include <kelvra/kernel/resources.h>

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace kelvra::platform {

namespace {

constexpr DWORD kStaticTypeMask = 0x1F;  // SS_TYPEMASK
// Windows measures text in whole pixels, Qt in fractions: a label that fits its width exactly
// on Windows may measure a fraction wider here and wrap. Wrapping gets one pixel of slack; the
// drawing stays clipped to the control.
constexpr int kWrapSlack = 1;

class StaticWidget : public QWidget {
public:
    StaticWidget(QWidget* parent, DWORD style, DWORD exStyle)
        : QWidget(parent), style_(style), exStyle_(exStyle)
    {
        setFocusPolicy(Qt::NoFocus);
    }
    QString text;
    QPixmap icon;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        QRect r = drawControlEdges(p, palette(), rect(), style_, exStyle_);
        if (style_ & SS_SUNKEN) {
            drawStaticEdge(p, palette(), r);
            r.adjust(1, 1, -1, -1);
        }
        DWORD type = style_ & kStaticTypeMask;
        if (type == SS_ICON) {
            if (!icon.isNull())
                p.drawPixmap(r.topLeft(), icon);
            return;
        }
        p.setClipRect(r);
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::WindowText));
        p.drawText(r.adjusted(0, 0, kWrapSlack, 0), textFlags(type), text);
    }

private:
    // DrawText as the static control calls it: word-wrapped and tab-expanded text for the
    // left, centred and right styles; one clipped line for SS_LEFTNOWORDWRAP and SS_SIMPLE.
    // Blanks are drawn as written, runs of them included.
    int textFlags(DWORD type) const
    {
        int flags = Qt::AlignTop | Qt::TextExpandTabs | mnemonicFlag(style_ & SS_NOPREFIX);
        switch (type) {
        case SS_CENTER:
            return flags | Qt::AlignHCenter | Qt::TextWordWrap;
        case SS_RIGHT:
            return flags | Qt::AlignRight | Qt::TextWordWrap;
        case SS_LEFTNOWORDWRAP:
        case SS_SIMPLE:
            return flags | Qt::AlignLeft | Qt::TextSingleLine;
        default:
            return flags | Qt::AlignLeft | Qt::TextWordWrap;
        }
    }

    DWORD style_;
    DWORD exStyle_;
};

// The icon an SS_ICON control names: "#400" or a name, resolved through the module's ICON
// statements to the embedded file.
QPixmap loadIcon(const std::string& name)
{
    const IconResource* icon = findIconResource(name);
    if (!icon)
        return {};
    const ResourceFile* file = findResourceFile(icon->file);
    if (!file)
        return {};
    QImage image;
    image.loadFromData(file->data, static_cast<int>(file->size), "ICO");
    return QPixmap::fromImage(image);
}

class Static : public Control {
public:
    explicit Static(const ControlCreateInfo& info) : Control(info)
    {
        widget_ = new StaticWidget(info.parent, style(), exStyle());
        bool icon = (style() & kStaticTypeMask) == SS_ICON;
        if (icon)
            widget_->icon = loadIcon(info.item.text);
        else
            widget_->text = QString::fromLocal8Bit(info.item.text.c_str());
        setWidget(widget_);
        // SS_ICON ignores the template's width and height and takes the icon's size.
        if (icon && !widget_->icon.isNull())
            widget_->resize(widget_->icon.size() +
                            QSize(2, 2) * controlEdgeWidth(style(), exStyle()));
    }

protected:
    std::string text() const override
    {
        return widget_ ? widget_->text.toLocal8Bit().toStdString() : std::string();
    }
    void setText(const std::string& text) override
    {
        if (!widget_)
            return;
        widget_->text = QString::fromLocal8Bit(text.c_str());
        widget_->update();
    }

private:
    QPointer<StaticWidget> widget_;
};

}  // namespace

Control* createStatic(const ControlCreateInfo& info)
{
    return new Static(info);
}

}  // namespace kelvra::platform
