// Where a window of the capture window's was last time (its size and place), kept by the
// platform in the user's configuration folder as a window manager would; the program keeps
// nothing. One small text file per window: "x y width height".
#pragma once

#include <QRect>

#include <optional>
#include <string>

namespace kelvra::avicap {

// The file for `name` in the user's configuration folder.
std::string windowPlacePath(const std::string& name);

// The place kept for `name`; nullopt when there is none. A damaged or implausible entry is also
// nullopt, and `problem` says what was wrong with it (empty when the file is missing or fine).
std::optional<QRect> loadWindowPlace(const std::string& name, std::string& problem);
// Keeps `place`; false when the folder or file cannot be written (nothing else depends on it).
bool saveWindowPlace(const std::string& name, const QRect& place);

}  // namespace kelvra::avicap
