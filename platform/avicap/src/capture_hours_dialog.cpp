// The two small dialogs behind the capture hours menu: two times of day, or the place whose
// sunrise and sunset bound the recording.
#include "capture_hours_dialog.h"

#include <kelvra/user/modal.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QTimeEdit>

namespace kelvra::avicap {

namespace {

constexpr double kMaxLatitude = 90, kMaxLongitude = 180;
constexpr int kPlaceDecimals = 4;

QDialogButtonBox* okCancel(QDialog& dialog)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return buttons;
}

QTimeEdit* timeField(QDialog& dialog, const char* name, int minuteOfDay)
{
    auto* field = new QTimeEdit(QTime(minuteOfDay / 60, minuteOfDay % 60), &dialog);
    field->setObjectName(QLatin1String(name));
    field->setDisplayFormat(QStringLiteral("HH:mm"));
    return field;
}

QDoubleSpinBox* degreesField(QDialog& dialog, const char* name, double limit, double value)
{
    auto* field = new QDoubleSpinBox(&dialog);
    field->setObjectName(QLatin1String(name));
    field->setRange(-limit, limit);
    field->setDecimals(kPlaceDecimals);
    field->setValue(value);
    return field;
}

}  // namespace

bool askHoursBetween(QWidget* parent, CaptureHours& hours)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Capture Hours"));
    auto* layout = new QFormLayout(&dialog);
    layout->addRow(new QLabel(QStringLiteral("Frames are recorded only between these times of day (the "
                                             "second may be past midnight)."), &dialog));
    QTimeEdit* from = timeField(dialog, "from", hours.fromMinute);
    QTimeEdit* to = timeField(dialog, "to", hours.toMinute);
    layout->addRow(QStringLiteral("&From:"), from);
    layout->addRow(QStringLiteral("&To:"), to);
    layout->addRow(okCancel(dialog));
    if (platform::runModal(dialog, {platform::ModalKind::Dialog, "Capture Hours", ""}) != QDialog::Accepted)
        return false;
    hours.mode = CaptureHours::Mode::Between;
    hours.fromMinute = from->time().hour() * 60 + from->time().minute();
    hours.toMinute = to->time().hour() * 60 + to->time().minute();
    return true;
}

bool askDaylightPlace(QWidget* parent, CaptureHours& hours)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Daylight only"));
    auto* layout = new QFormLayout(&dialog);
    auto* note = new QLabel(QStringLiteral("Frames are recorded from sunrise to sunset at this place. Degrees north "
                                           "and east are positive, south and west negative."), &dialog);
    note->setWordWrap(true);
    layout->addRow(note);
    QDoubleSpinBox* latitude = degreesField(dialog, "latitude", kMaxLatitude, hours.latitude);
    QDoubleSpinBox* longitude = degreesField(dialog, "longitude", kMaxLongitude, hours.longitude);
    layout->addRow(QStringLiteral("&Latitude:"), latitude);
    layout->addRow(QStringLiteral("L&ongitude:"), longitude);
    layout->addRow(okCancel(dialog));
    if (platform::runModal(dialog, {platform::ModalKind::Dialog, "Daylight only", ""}) != QDialog::Accepted)
        return false;
    hours.mode = CaptureHours::Mode::Daylight;
    hours.latitude = latitude->value();
    hours.longitude = longitude->value();
    return true;
}

}  // namespace kelvra::avicap
