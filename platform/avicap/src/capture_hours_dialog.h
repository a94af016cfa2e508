// Asking for capture hours; each answers false, changing nothing, when the user cancels.
#pragma once

#include "capture_hours.h"

class QWidget;

namespace kelvra::avicap {

bool askHoursBetween(QWidget* parent, CaptureHours& hours);
bool askDaylightPlace(QWidget* parent, CaptureHours& hours);

}  // namespace kelvra::avicap
