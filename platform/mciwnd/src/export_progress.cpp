#include "export_progress.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace kelvra::mciwnd {

namespace {

constexpr int kMinRateMs = 300;     // the rate and time left are shown once this much has passed
constexpr int kSecondsPerMinute = 60;
constexpr int kLabelChars = 44;     // room for the longest line, so the window does not jump

// "1 frame", "20 frames".
QString count(int64_t n, const char* one, const char* many)
{
    return QString("%1 %2").arg(n).arg(n == 1 ? one : many);
}

QString timeText(double seconds)
{
    long total = std::lround(std::max(seconds, 0.0));
    if (total < kSecondsPerMinute)
        return QObject::tr("About %1 left").arg(count(std::max(total, 1L), "second", "seconds"));
    long minutes = total / kSecondsPerMinute;
    return QObject::tr("About %1:%2 left").arg(minutes).arg(total % kSecondsPerMinute, 2, 10, QChar('0'));
}

}  // namespace

ExportProgressWindow::ExportProgressWindow(QWidget* owner, const film::ExportSettings& settings)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("exportProgress");
    setAttribute(Qt::WA_DeleteOnClose, false);
    const QString name = QFileInfo(QString::fromLocal8Bit(settings.target.c_str())).fileName();
    setWindowTitle(tr("Exporting %1").arg(name));

    auto* layout = new QVBoxLayout(this);
    auto* target = new QLabel(tr("Making %1").arg(QString::fromLocal8Bit(settings.target.c_str())), this);
    target->setWordWrap(true);
    layout->addWidget(target);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 0);
    layout->addWidget(bar_);
    frames_ = new QLabel(tr("Reading the recording..."), this);
    frames_->setObjectName("frames");
    speed_ = new QLabel(this);
    speed_->setObjectName("speed");
    left_ = new QLabel(this);
    left_->setObjectName("timeLeft");
    for (QLabel* label : {frames_, speed_, left_}) {
        label->setMinimumWidth(label->fontMetrics().averageCharWidth() * kLabelChars);
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    button_ = new QPushButton(tr("Cancel"), this);
    button_->setObjectName("cancel");
    connect(button_, &QPushButton::clicked, this, [this] {
        if (ended_)
            close();
        else
            cancel();
    });
    row->addWidget(button_);
    layout->addLayout(row);

    clock_.start();
    job_ = std::make_unique<film::ExportJob>(settings, [this] {
        // One refresh waits in the window's queue at a time, however fast the pictures come.
        if (!refreshPosted_.exchange(true))
            QMetaObject::invokeMethod(this, [this] { refresh(); }, Qt::QueuedConnection);
    });
}

ExportProgressWindow::~ExportProgressWindow()
{
    job_.reset();  // cancels and waits: nothing half-written stays behind
}

void ExportProgressWindow::cancel()
{
    if (ended_ || !job_)
        return;
    job_->cancel();
    button_->setEnabled(false);
    frames_->setText(tr("Cancelling..."));
}

void ExportProgressWindow::closeEvent(QCloseEvent* event)
{
    cancel();
    event->accept();
}

void ExportProgressWindow::refresh()
{
    refreshPosted_ = false;
    if (ended_)
        return;
    if (job_->finished()) {
        finish();
        return;
    }
    if (button_->isEnabled() == false)
        return;  // cancelling: the counts no longer matter
    const film::ExportProgress progress = job_->progress();
    if (progress.total > 0 && bar_->maximum() != int(progress.total))
        bar_->setRange(0, int(progress.total));
    bar_->setValue(int(progress.done));
    frames_->setText(tr("Frame %1 of %2").arg(progress.done).arg(progress.total));
    const double seconds = clock_.elapsed() / 1000.0;
    if (clock_.elapsed() >= kMinRateMs && progress.done > 0) {
        const double rate = progress.done / seconds;
        speed_->setText(tr("%1 frames per second").arg(rate, 0, 'f', 1));
        left_->setText(timeText(double(progress.total - progress.done) / rate));
    }
}

void ExportProgressWindow::finish()
{
    ended_ = true;
    const film::ExportResult result = job_->result();
    const film::ExportSettings& settings = job_->settings();
    succeeded_ = bool(result.status);
    QString text;
    if (result.status) {
        text = tr("Done: %1 in %2.").arg(count(result.written, "frame", "frames"), QString::fromLocal8Bit(settings.target.c_str()));
        if (result.skipped > 0)
            text += "\n" + tr("%1 of the recording could not be read and %2 left out.")
                                .arg(count(result.skipped, "frame", "frames"), result.skipped == 1 ? "was" : "were");
        bar_->setRange(0, 1);
        bar_->setValue(1);
        setWindowTitle(tr("Export finished"));
    } else if (result.status.code == film::kCancelled) {
        text = tr("Cancelled. Nothing was written.");
        setWindowTitle(tr("Export cancelled"));
    } else {
        text = QString::fromStdString(result.status.message);
        if (!text.endsWith('.'))
            text += '.';
        text += "\n" + tr("Nothing was written.");
        setWindowTitle(tr("Export failed"));
    }
    outcome_ = text.toStdString();
    frames_->setText(text);
    speed_->clear();
    left_->clear();
    button_->setText(tr("Close"));
    adjustSize();  // the closing words may take more lines than the counts did
    button_->setEnabled(true);
    button_->setDefault(true);
    button_->setFocus();
}

}  // namespace kelvra::mciwnd
