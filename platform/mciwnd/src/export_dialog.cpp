#include "export_dialog.h"

#include <kelvra/user/modal.h>

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace kelvra::mciwnd {

namespace {

using film::FilmFormat;

constexpr const char* kCaption = "Export Film";
constexpr const char* kPicturesFolderEnd = "_frames";
constexpr const char* kFilmExtension = ".mp4";

struct SizeChoice {
    const char* text;
    int width, height;
};
const SizeChoice kSizes[] = {
    {nullptr, 0, 0},  // the recording's own, its text made from the file
    {"1920 x 1080", 1920, 1080},
    {"1280 x 720", 1280, 720},
    {"854 x 480", 854, 480},
};

const film::Deflicker kDeflicker[] = {film::Deflicker::Off, film::Deflicker::Light, film::Deflicker::Strong};

// A rate as people write it: "10", "12.5", "29.97".
QString rateText(double fps)
{
    return QString::number(fps, 'g', 6);
}

}  // namespace

std::string ExportDialog::defaultTarget(const std::string& recording, FilmFormat format)
{
    QFileInfo info(QString::fromLocal8Bit(recording.c_str()));
    QString stem = info.path() + "/" + info.completeBaseName();
    return (format == FilmFormat::Mp4 ? stem + kFilmExtension : stem + kPicturesFolderEnd).toLocal8Bit().toStdString();
}

ExportDialog::ExportDialog(QWidget* owner, const std::string& recording, const film::SourceInfo& source)
    : QDialog(owner), recording_(recording), source_(source)
{
    setObjectName("exportDialog");
    setWindowTitle(kCaption);
    auto* form = new QFormLayout;

    format_ = new QComboBox(this);
    format_->setObjectName("format");
    format_->addItems({tr("MP4 film (H.264)"), tr("JPEG pictures, numbered, in a new folder"),
                       tr("PNG pictures, numbered, in a new folder")});
    form->addRow(tr("&Format:"), format_);

    quality_ = new QSpinBox(this);
    quality_->setObjectName("quality");
    quality_->setRange(0, film::kMaxCrf);
    quality_->setValue(film::kDefaultCrf);
    quality_->setToolTip(tr("Constant rate factor: lower is better and larger; 18 to 23 suits most films"));
    form->addRow(tr("&Quality (CRF):"), quality_);

    size_ = new QComboBox(this);
    size_->setObjectName("size");
    size_->addItem(tr("The recording's own (%1 x %2)").arg(source.width).arg(source.height));
    for (size_t i = 1; i < std::size(kSizes); ++i)
        size_->addItem(kSizes[i].text);
    form->addRow(tr("&Size:"), size_);

    rate_ = new QLineEdit(rateText(source.framesPerSecond), this);
    rate_->setObjectName("rate");
    auto* rateBox = new QWidget(this);
    auto* rateRow = new QHBoxLayout(rateBox);
    rateRow->setContentsMargins(0, 0, 0, 0);
    rate_->setParent(rateBox);
    rateRow->addWidget(rate_);
    rateRow->addWidget(new QLabel(tr("frames per second (the recording's own: %1)").arg(rateText(source.framesPerSecond)), rateBox));
    auto* rateLabel = new QLabel(tr("Frame ra&te:"), this);
    rateLabel->setBuddy(rate_);
    form->addRow(rateLabel, rateBox);

    deflicker_ = new QComboBox(this);
    deflicker_->setObjectName("deflicker");
    deflicker_->addItems({tr("Off"), tr("Light"), tr("Strong")});
    deflicker_->setToolTip(tr("Evens out brightness that jumps from frame to frame"));
    form->addRow(tr("&Deflicker:"), deflicker_);

    form->addRow(tr("Frames:"), buildRange());
    form->addRow(tr("Save &as:"), buildTarget());

    auto* buttons = new QDialogButtonBox(this);
    start_ = buttons->addButton(tr("Export"), QDialogButtonBox::AcceptRole);
    start_->setObjectName("export");
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    start_->setDefault(true);
    cancel->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &ExportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ExportDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    connect(format_, &QComboBox::currentIndexChanged, this, [this] { formatChanged(); });
    format_->setFocus();
}

QWidget* ExportDialog::buildRange()
{
    auto* range = new QWidget(this);
    auto* row = new QHBoxLayout(range);
    row->setContentsMargins(0, 0, 0, 0);
    const int frames = int(std::max<int64_t>(source_.frames, 1));
    allFrames_ = new QRadioButton(tr("A&ll %1").arg(source_.frames), range);
    allFrames_->setObjectName("allFrames");
    someFrames_ = new QRadioButton(tr("F&rom"), range);
    someFrames_->setObjectName("someFrames");
    allFrames_->setChecked(true);
    from_ = new QSpinBox(range);
    from_->setObjectName("from");
    to_ = new QSpinBox(range);
    to_->setObjectName("to");
    from_->setRange(1, frames);
    to_->setRange(1, frames);
    from_->setValue(1);
    to_->setValue(frames);
    from_->setEnabled(false);
    to_->setEnabled(false);
    connect(someFrames_, &QRadioButton::toggled, this, [this](bool on) {
        from_->setEnabled(on);
        to_->setEnabled(on);
    });
    row->addWidget(allFrames_);
    row->addWidget(someFrames_);
    row->addWidget(from_);
    row->addWidget(new QLabel(tr("to"), range));
    row->addWidget(to_);
    row->addStretch(1);
    return range;
}

QWidget* ExportDialog::buildTarget()
{
    auto* place = new QWidget(this);
    auto* row = new QHBoxLayout(place);
    row->setContentsMargins(0, 0, 0, 0);
    target_ = new QLineEdit(QString::fromLocal8Bit(defaultTarget(recording_, FilmFormat::Mp4).c_str()), place);
    target_->setObjectName("target");
    target_->setMinimumWidth(target_->fontMetrics().averageCharWidth() * 48);
    choose_ = new QPushButton(tr("C&hoose..."), place);
    choose_->setObjectName("choose");
    choose_->setAutoDefault(false);
    connect(choose_, &QPushButton::clicked, this, [this] { choose(); });
    row->addWidget(target_, 1);
    row->addWidget(choose_);
    return place;
}

// The name follows the format while it is the one the dialog made up: a film "x.mp4", pictures
// in the folder "x_frames".
void ExportDialog::formatChanged()
{
    FilmFormat format = FilmFormat(format_->currentIndex());
    quality_->setEnabled(format == FilmFormat::Mp4);
    const bool wasFilm = shownFormat_ == FilmFormat::Mp4, isFilm = format == FilmFormat::Mp4;
    shownFormat_ = format;
    if (wasFilm == isFilm)
        return;
    QString path = target_->text();
    if (isFilm && path.endsWith(kPicturesFolderEnd))
        target_->setText(path.chopped(int(strlen(kPicturesFolderEnd))) + kFilmExtension);
    else if (!isFilm && path.endsWith(kFilmExtension, Qt::CaseInsensitive))
        target_->setText(path.chopped(int(strlen(kFilmExtension))) + kPicturesFolderEnd);
}

void ExportDialog::choose()
{
    const bool film = format_->currentIndex() == int(FilmFormat::Mp4);
    QFileDialog chooser(this, film ? tr("Save Film As") : tr("Folder for the Pictures"));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setOption(QFileDialog::DontConfirmOverwrite);  // Export asks, once, for the path it is given
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    QFileInfo current(target_->text());
    chooser.setDirectory(current.absolutePath());
    chooser.selectFile(current.fileName());
    if (film) {
        chooser.setNameFilter(tr("MP4 films (*.mp4)"));
        chooser.setDefaultSuffix("mp4");
    }
    platform::ModalInfo info{platform::ModalKind::FileChooser, chooser.windowTitle().toStdString(), ""};
    if (platform::runModal(chooser, info) != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    target_->setText(chooser.selectedFiles().first());
}

int ExportDialog::say(const std::string& text, UINT type)
{
    return MessageBoxA(handle(), text.c_str(), kCaption, type);
}

bool ExportDialog::collect()
{
    settings_ = {};
    settings_.source = recording_;
    settings_.format = FilmFormat(format_->currentIndex());
    settings_.crf = quality_->value();
    settings_.boxWidth = kSizes[size_->currentIndex()].width;
    settings_.boxHeight = kSizes[size_->currentIndex()].height;
    settings_.deflicker = kDeflicker[deflicker_->currentIndex()];

    bool number = false;
    double fps = rate_->text().trimmed().replace(',', '.').toDouble(&number);
    if (!number || !std::isfinite(fps) || fps <= 0 || fps > film::kMaxFramesPerSecond) {
        say("The frame rate must be a number above 0 and at most 240 frames per second.", MB_OK | MB_ICONEXCLAMATION);
        rate_->setFocus();
        rate_->selectAll();
        return false;
    }
    // The recording's own rate, unchanged, is taken exactly as the file states it.
    settings_.framesPerSecond = rate_->text().trimmed() == rateText(source_.framesPerSecond) ? 0.0 : fps;

    if (someFrames_->isChecked()) {
        if (from_->value() > to_->value()) {
            say("The first frame must not come after the last one.", MB_OK | MB_ICONEXCLAMATION);
            from_->setFocus();
            return false;
        }
        settings_.first = from_->value() - 1;
        settings_.last = to_->value() - 1;
    }
    settings_.target = target_->text().trimmed().toLocal8Bit().toStdString();
    if (!settings_.target.empty())
        settings_.target = QFileInfo(QString::fromLocal8Bit(settings_.target.c_str())).absoluteFilePath().toLocal8Bit().toStdString();
    return true;
}

bool ExportDialog::targetReady()
{
    film::TargetState state;
    media::Status st = film::checkTarget(settings_, state);
    if (!st) {
        say(st.message + ".", MB_OK | MB_ICONEXCLAMATION);
        target_->setFocus();
        return false;
    }
    if (state.exists && !state.replaceable) {
        say(settings_.target + "\nThis folder holds other files. Choose a new folder for the pictures.",
            MB_OK | MB_ICONEXCLAMATION);
        target_->setFocus();
        return false;
    }
    if (state.exists &&
        say(settings_.target + " already exists.\nDo you want to replace it?", MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
        target_->setFocus();
        return false;
    }
    return true;
}

void ExportDialog::accept()
{
    if (collect() && targetReady())
        QDialog::accept();
}

}  // namespace kelvra::mciwnd
