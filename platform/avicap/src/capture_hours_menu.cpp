// The time-lapse entries of the capture window's context menu: Capture Hours, a choice of three,
// each naming what it is set to.
#include "capture_hours_dialog.h"
#include "capture_menu.h"
#include "capture_window.h"

#include <QActionGroup>
#include <QMenu>

namespace kelvra::avicap {

std::function<void()> addTimeLapseEntries(QMenu& menu, CaptureWindow& window)
{
    QMenu* hours = menu.addMenu(QStringLiteral("Capture Hours"));
    auto* group = new QActionGroup(hours);
    QAction* always = hours->addAction(QStringLiteral("Always"), [&window] {
        CaptureHours h = window.captureHours();
        h.mode = CaptureHours::Mode::Always;
        window.setCaptureHours(h);
    });
    QAction* between = hours->addAction(QString(), [&window] {
        CaptureHours h = window.captureHours();
        if (askHoursBetween(&window, h))
            window.setCaptureHours(h);
    });
    QAction* daylight = hours->addAction(QString(), [&window] {
        CaptureHours h = window.captureHours();
        if (askDaylightPlace(&window, h))
            window.setCaptureHours(h);
    });
    for (QAction* a : {always, between, daylight}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    // The entries tell what each is set to; the choice in use is checked.
    auto refresh = [&window, always, between, daylight] {
        CaptureHours h = window.captureHours();
        h.mode = CaptureHours::Mode::Between;
        between->setText(QString::fromStdString(hoursText(h)));
        daylight->setText(QStringLiteral("Daylight only"));
        const CaptureHours::Mode mode = window.captureHours().mode;
        always->setChecked(mode == CaptureHours::Mode::Always);
        between->setChecked(mode == CaptureHours::Mode::Between);
        daylight->setChecked(mode == CaptureHours::Mode::Daylight);
    };
    refresh();
    return refresh;
}

}  // namespace kelvra::avicap
