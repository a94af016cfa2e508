#include "device_dialogs.h"
#include "control_settings.h"

#include "dialog_fit.h"

#include <kelvra/user/modal.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <map>

namespace kelvra::avicap {

namespace {

constexpr int kQualityMin = 1;
constexpr int kQualityMax = 100;
constexpr int kSliderMinWidth = 180;

int toInt(int64_t v)
{
    return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

// Every device dialog is modal through the platform, so timers go on ticking under it and
// tests answer it by script. The dialog is owned here unless its parent took it down.
void runDeviceDialog(QDialog* dialog, const char* caption)
{
    QPointer<QDialog> guard(dialog);
    platform::ModalInfo info;
    info.kind = platform::ModalKind::DeviceDialog;
    info.caption = caption;
    platform::runModal(*dialog, info);
    delete guard.data();
}

QLabel* messageLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("message"));
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: #b00000"));
    return label;
}

// ---- Video Source: the device's own controls ----------------------------------------------

class VideoSourceDialog : public QDialog {
public:
    VideoSourceDialog(QWidget* parent, std::shared_ptr<Device> device);

    void reject() override;

private:
    QWidget* makeEditor(const media::Control& control);
    void apply(uint32_t id, int64_t value);
    void refresh();
    void restoreDefaults();

    std::shared_ptr<Device> device_;
    std::map<uint32_t, QWidget*> editors_;
    std::map<uint32_t, QWidget*> rows_;  // the editor with its value, greyed with its name
    std::map<uint32_t, QLabel*> valueLabels_;
    QFormLayout* form_ = nullptr;
    std::map<uint32_t, int64_t> original_;
    QLabel* message_;
};

VideoSourceDialog::VideoSourceDialog(QWidget* parent, std::shared_ptr<Device> device)
    : QDialog(parent), device_(std::move(device))
{
    setWindowTitle(QStringLiteral("Video Source"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromStdString(device_->driver().name), this));
    auto* form = form_ = new QFormLayout;
    const std::vector<media::Control> controls =
        dialogOrder(device_->locked([](media::FrameSource& s) { return s.controls(); }));
    for (const media::Control& control : controls) {
        if (control.type != media::ControlType::Button)
            original_[control.id] = control.value;
        QWidget* editor = rows_[control.id] = makeEditor(control);
        // Check boxes and buttons carry their name themselves.
        const bool named = control.type == media::ControlType::Integer || control.type == media::ControlType::Menu;
        form->addRow(named ? QString::fromStdString(control.name) : QString(), editor);
    }
    if (controls.empty())
        form->addRow(new QLabel(QStringLiteral("This device offers no settings."), this));
    layout->addLayout(form);
    message_ = messageLabel(this);
    layout->addWidget(message_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* defaults = buttons->addButton(QStringLiteral("Defaults"), QDialogButtonBox::ResetRole);
    defaults->setObjectName(QStringLiteral("defaults"));
    defaults->setEnabled(!original_.empty());
    connect(defaults, &QPushButton::clicked, this, [this] { restoreDefaults(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    refresh();
}

QWidget* VideoSourceDialog::makeEditor(const media::Control& control)
{
    const uint32_t id = control.id;
    const QString name = QStringLiteral("control-%1").arg(id);
    switch (control.type) {
    case media::ControlType::Integer: {
        auto* row = new QWidget(this);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        auto* slider = new QSlider(Qt::Horizontal, row);
        slider->setObjectName(name);
        slider->setMinimumWidth(kSliderMinWidth);
        slider->setRange(toInt(control.minimum), toInt(control.maximum));
        slider->setSingleStep(std::max(1, toInt(control.step)));
        slider->setPageStep(std::max(1, toInt(control.step)));
        auto* value = new QLabel(row);
        h->addWidget(slider, 1);
        h->addWidget(value);
        valueLabels_[id] = value;
        editors_[id] = slider;
        connect(slider, &QSlider::valueChanged, this, [this, id](int v) { apply(id, v); });
        return row;
    }
    case media::ControlType::Boolean: {
        auto* box = new QCheckBox(QString::fromStdString(control.name), this);
        box->setObjectName(name);
        editors_[id] = box;
        connect(box, &QCheckBox::toggled, this, [this, id](bool on) { apply(id, on ? 1 : 0); });
        return box;
    }
    case media::ControlType::Menu: {
        auto* combo = new QComboBox(this);
        combo->setObjectName(name);
        for (const media::ControlMenuItem& item : control.menu)
            combo->addItem(QString::fromStdString(item.name), QVariant::fromValue<qlonglong>(item.value));
        editors_[id] = combo;
        connect(combo, &QComboBox::activated, this,
                [this, id, combo](int index) { apply(id, combo->itemData(index).toLongLong()); });
        return combo;
    }
    case media::ControlType::Button:
        break;
    }
    auto* button = new QPushButton(QString::fromStdString(control.name), this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    editors_[id] = button;
    connect(button, &QPushButton::clicked, this, [this, id] { apply(id, 1); });
    return button;
}

void VideoSourceDialog::apply(uint32_t id, int64_t value)
{
    const media::Status status = device_->locked([&](media::FrameSource& s) { return s.setControl(id, value); });
    message_->setText(status ? QString() : QString::fromStdString(status.message));
    // One control can change others (an automatic mode greys out its manual value).
    refresh();
}

void VideoSourceDialog::refresh()
{
    const std::vector<media::Control> controls = device_->locked([](media::FrameSource& s) { return s.controls(); });
    for (const media::Control& control : controls) {
        auto it = editors_.find(control.id);
        if (it == editors_.end())
            continue;
        QWidget* editor = it->second;
        const QSignalBlocker block(editor);
        rows_[control.id]->setEnabled(!control.inactive);
        if (QWidget* label = form_->labelForField(rows_[control.id]))
            label->setEnabled(!control.inactive);
        if (auto* slider = qobject_cast<QSlider*>(editor)) {
            slider->setValue(toInt(control.value));
            valueLabels_[control.id]->setText(QString::number(control.value));
        } else if (auto* box = qobject_cast<QCheckBox*>(editor)) {
            box->setChecked(control.value != 0);
        } else if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            combo->setCurrentIndex(combo->findData(QVariant::fromValue<qlonglong>(control.value)));
        }
    }
}

void VideoSourceDialog::restoreDefaults()
{
    device_->locked([](media::FrameSource& s) {
        std::map<uint32_t, int64_t> defaults;
        for (const media::Control& control : s.controls())
            defaults[control.id] = control.defaultValue;
        applyControlValues(s, defaults);
        return 0;
    });
    message_->clear();
    refresh();
}

void VideoSourceDialog::reject()
{
    // Cancel undoes what was applied live.
    device_->locked([&](media::FrameSource& s) {
        applyControlValues(s, original_);
        return 0;
    });
    QDialog::reject();
}

// ---- Video Format: what the device can stream ----------------------------------------------

QString rateText(const media::FrameRate& rate)
{
    if (rate.denominator == 0)
        return QStringLiteral("?");
    return QStringLiteral("%1 fps").arg(double(rate.numerator) / rate.denominator, 0, 'g', 4);
}

bool sameFormat(const media::StreamFormat& a, const media::StreamFormat& b)
{
    return a.format == b.format && a.width == b.width && a.height == b.height &&
           uint64_t(a.rate.numerator) * b.rate.denominator == uint64_t(b.rate.numerator) * a.rate.denominator;
}

class VideoFormatDialog : public QDialog {
public:
    VideoFormatDialog(QWidget* parent, std::shared_ptr<Device> device,
                      std::function<std::string(const media::StreamFormat&)> refusal);

    // OK: the chosen format is applied, or the dialog stays open saying why it cannot be.
    void accept() override;

private:
    void fillSizes();
    void fillRates();
    bool chosen(media::StreamFormat& out) const;

    std::shared_ptr<Device> device_;
    std::function<std::string(const media::StreamFormat&)> refusal_;
    std::vector<media::FormatDescription> formats_;
    media::StreamFormat current_;
    QComboBox* format_;
    QComboBox* size_;
    QComboBox* rate_;
    QLabel* message_;
};

VideoFormatDialog::VideoFormatDialog(QWidget* parent, std::shared_ptr<Device> device,
                                     std::function<std::string(const media::StreamFormat&)> refusal)
    : QDialog(parent), device_(std::move(device)), refusal_(std::move(refusal))
{
    setWindowTitle(QStringLiteral("Video Format"));
    device_->locked([this](media::FrameSource& s) {
        formats_ = s.formats();
        current_ = s.format();
        return 0;
    });
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    format_ = new QComboBox(this);
    format_->setObjectName(QStringLiteral("format"));
    size_ = new QComboBox(this);
    size_->setObjectName(QStringLiteral("size"));
    rate_ = new QComboBox(this);
    rate_->setObjectName(QStringLiteral("rate"));
    form->addRow(QStringLiteral("Pixel format:"), format_);
    form->addRow(QStringLiteral("Frame size:"), size_);
    form->addRow(QStringLiteral("Frame rate:"), rate_);
    layout->addLayout(form);
    message_ = messageLabel(this);
    layout->addWidget(message_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    for (const media::FormatDescription& f : formats_)
        format_->addItem(QString::fromStdString(f.name));
    auto it = std::find_if(formats_.begin(), formats_.end(), [this](const auto& f) { return f.format == current_.format; });
    format_->setCurrentIndex(it == formats_.end() ? 0 : int(it - formats_.begin()));
    fillSizes();
    connect(format_, &QComboBox::currentIndexChanged, this, [this] { fillSizes(); });
    connect(size_, &QComboBox::currentIndexChanged, this, [this] { fillRates(); });
    if (formats_.empty())
        showDialogMessage(*this, *message_, QStringLiteral("The device reports no formats."));
}

void VideoFormatDialog::fillSizes()
{
    const QSignalBlocker block(size_);
    size_->clear();
    const int f = format_->currentIndex();
    if (f >= 0 && f < int(formats_.size())) {
        int keep = 0;
        const std::vector<media::FrameSize>& sizes = formats_[size_t(f)].sizes;
        for (size_t i = 0; i < sizes.size(); ++i) {
            size_->addItem(QStringLiteral("%1 x %2").arg(sizes[i].width).arg(sizes[i].height));
            if (sizes[i].width == current_.width && sizes[i].height == current_.height)
                keep = int(i);
        }
        size_->setCurrentIndex(sizes.empty() ? -1 : keep);
    }
    fillRates();
}

void VideoFormatDialog::fillRates()
{
    rate_->clear();
    const int f = format_->currentIndex(), s = size_->currentIndex();
    if (f < 0 || f >= int(formats_.size()) || s < 0 || s >= int(formats_[size_t(f)].sizes.size()))
        return;
    const std::vector<media::FrameRate>& rates = formats_[size_t(f)].sizes[size_t(s)].rates;
    int keep = 0;
    for (size_t i = 0; i < rates.size(); ++i) {
        rate_->addItem(rateText(rates[i]));
        if (uint64_t(rates[i].numerator) * current_.rate.denominator ==
            uint64_t(current_.rate.numerator) * rates[i].denominator)
            keep = int(i);
    }
    rate_->setCurrentIndex(rates.empty() ? -1 : keep);
}

bool VideoFormatDialog::chosen(media::StreamFormat& out) const
{
    const int f = format_->currentIndex(), s = size_->currentIndex(), r = rate_->currentIndex();
    if (f < 0 || f >= int(formats_.size()) || s < 0 || s >= int(formats_[size_t(f)].sizes.size()))
        return false;
    const media::FrameSize& size = formats_[size_t(f)].sizes[size_t(s)];
    out.format = formats_[size_t(f)].format;
    out.width = size.width;
    out.height = size.height;
    out.rate = (r >= 0 && r < int(size.rates.size())) ? size.rates[size_t(r)] : current_.rate;
    return true;
}

void VideoFormatDialog::accept()
{
    media::StreamFormat next;
    if (!chosen(next) || sameFormat(next, current_)) {
        QDialog::accept();
        return;
    }
    const std::string refused = refusal_(next);
    if (!refused.empty()) {
        showDialogMessage(*this, *message_, QString::fromLocal8Bit(refused.c_str()));
        return;  // stays open: the user may pick a size that fits, or cancel
    }
    const media::StreamFormat previous = current_;
    const media::Status status = device_->locked([&](media::FrameSource& s) {
        media::Status st = s.setFormat(next);  // restarts the stream
        if (!st)
            s.setFormat(previous);
        return st;
    });
    if (!status) {
        showDialogMessage(*this, *message_,
                          QStringLiteral("The device did not take this format: ") +
                              QString::fromLocal8Bit(status.message.c_str()));
        return;
    }
    QDialog::accept();
}

// ---- Video Compression: the compressor for the capture file --------------------------------

class CompressionDialog : public QDialog {
public:
    CompressionDialog(QWidget* parent, Compression& choice, bool fileOpen);

    void accept() override;

private:
    void codecChanged();

    Compression& choice_;
    std::vector<media::CodecInfo> codecs_;
    QComboBox* codec_;
    QSlider* quality_;
    QLabel* qualityValue_;
};

CompressionDialog::CompressionDialog(QWidget* parent, Compression& choice, bool fileOpen)
    : QDialog(parent), choice_(choice), codecs_(media::availableCodecs())
{
    setWindowTitle(QStringLiteral("Video Compression"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    codec_ = new QComboBox(this);
    codec_->setObjectName(QStringLiteral("codec"));
    for (const media::CodecInfo& c : codecs_)
        codec_->addItem(QString::fromStdString(c.name));
    auto it = std::find_if(codecs_.begin(), codecs_.end(), [&](const auto& c) { return c.codec == choice.codec; });
    codec_->setCurrentIndex(it == codecs_.end() ? 0 : int(it - codecs_.begin()));
    auto* row = new QHBoxLayout;
    quality_ = new QSlider(Qt::Horizontal, this);
    quality_->setObjectName(QStringLiteral("quality"));
    quality_->setRange(kQualityMin, kQualityMax);
    quality_->setValue(std::clamp(choice.quality, kQualityMin, kQualityMax));
    quality_->setMinimumWidth(kSliderMinWidth);
    qualityValue_ = new QLabel(QString::number(quality_->value()), this);
    row->addWidget(quality_, 1);
    row->addWidget(qualityValue_);
    form->addRow(QStringLiteral("Compressor:"), codec_);
    form->addRow(QStringLiteral("Quality:"), row);
    layout->addLayout(form);
    if (fileOpen)
        layout->addWidget(new QLabel(QStringLiteral("The open capture file keeps its compressor; "
                                                    "this choice applies to the next file opened."),
                                     this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(quality_, &QSlider::valueChanged, qualityValue_, [this](int v) { qualityValue_->setNum(v); });
    connect(codec_, &QComboBox::currentIndexChanged, this, [this] { codecChanged(); });
    codecChanged();
}

void CompressionDialog::accept()
{
    const int i = codec_->currentIndex();
    if (i >= 0 && i < int(codecs_.size()))
        choice_.codec = codecs_[size_t(i)].codec;
    choice_.quality = quality_->value();
    QDialog::accept();
}

void CompressionDialog::codecChanged()
{
    const int i = codec_->currentIndex();
    quality_->setEnabled(i >= 0 && i < int(codecs_.size()) && codecs_[size_t(i)].hasQuality);
}

}  // namespace

void runVideoSourceDialog(QWidget* parent, const std::shared_ptr<Device>& device)
{
    runDeviceDialog(new VideoSourceDialog(parent, device), "Video Source");
}

void runVideoFormatDialog(QWidget* parent, const std::shared_ptr<Device>& device,
                          const std::function<std::string(const media::StreamFormat&)>& refusal)
{
    runDeviceDialog(new VideoFormatDialog(parent, device, refusal), "Video Format");
}

void runCompressionDialog(QWidget* parent, Compression& choice, bool fileOpen)
{
    runDeviceDialog(new CompressionDialog(parent, choice, fileOpen), "Video Compression");
}

}  // namespace kelvra::avicap
