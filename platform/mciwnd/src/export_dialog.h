// Export Film...: the media window's dialog that chooses what the finished film will be. Enter
// accepts what it shows; it refuses a bad frame rate or an unusable place before any work, and
// replaces an existing film only after the user says yes.
#pragma once

#include <kelvra/export/film_export.h>
#include <kelvra/user/window.h>

#include <QDialog>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace kelvra::mciwnd {

class ExportDialog : public QDialog, public platform::Window {
public:
    ExportDialog(QWidget* owner, const std::string& recording, const film::SourceInfo& source);
    QWidget* widget() const override { return const_cast<ExportDialog*>(this); }

    // What the dialog shows, as settings for the export (valid once it was accepted).
    film::ExportSettings settings() const { return settings_; }
    void accept() override;

    // The default place for the film: the recording's name with .mp4 (or _frames, a folder, for
    // pictures) beside it.
    static std::string defaultTarget(const std::string& recording, film::FilmFormat format);

private:
    QWidget* buildRange();
    QWidget* buildTarget();
    void formatChanged();
    void choose();
    bool collect();     // reads the controls into settings_; false (with a message) when one is wrong
    bool targetReady(); // the place can be written, and replacing is agreed
    int say(const std::string& text, UINT type);

    std::string recording_;
    film::SourceInfo source_;
    film::ExportSettings settings_;
    film::FilmFormat shownFormat_ = film::FilmFormat::Mp4;

    QComboBox* format_ = nullptr;
    QSpinBox* quality_ = nullptr;
    QComboBox* size_ = nullptr;
    QLineEdit* rate_ = nullptr;
    QComboBox* deflicker_ = nullptr;
    QRadioButton* allFrames_ = nullptr;
    QRadioButton* someFrames_ = nullptr;
    QSpinBox* from_ = nullptr;
    QSpinBox* to_ = nullptr;
    QLineEdit* target_ = nullptr;
    QPushButton* choose_ = nullptr;
    QPushButton* start_ = nullptr;
};

}  // namespace kelvra::mciwnd
