#include "platform/gst/CaptureDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace camwarden::capgst {
namespace {

constexpr int kCommonRates[] = {60, 50, 30, 25, 20, 15, 10, 5};
constexpr std::pair<int, int> kCommonSizes[] = {{1920, 1080}, {1280, 720}, {800, 600},
                                                {640, 480},   {352, 288},  {320, 240}};

bool FitsInt(const GValue* v, int x) {
    if (!v) return false;
    GValue probe = G_VALUE_INIT;
    g_value_init(&probe, G_TYPE_INT);
    g_value_set_int(&probe, x);
    const bool fits = gst_value_intersect(nullptr, v, &probe);
    g_value_unset(&probe);
    return fits;
}

void AddRates(const GValue* v, std::vector<Fraction>& out) {
    const auto add = [&](Fraction f) {
        if (f.num > 0 && std::find(out.begin(), out.end(), f) == out.end()) out.push_back(f);
    };
    if (!v) return;
    if (GST_VALUE_HOLDS_FRACTION(v)) {
        add({gst_value_get_fraction_numerator(v), gst_value_get_fraction_denominator(v)});
    } else if (GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i)
            AddRates(gst_value_list_get_value(v, i), out);
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(v)) {
        for (int r : kCommonRates) {
            GValue probe = G_VALUE_INIT;
            g_value_init(&probe, GST_TYPE_FRACTION);
            gst_value_set_fraction(&probe, r, 1);
            if (gst_value_intersect(nullptr, v, &probe)) add({r, 1});
            g_value_unset(&probe);
        }
    }
}

QString RateText(Fraction f) {
    if (f.den == 1) return QStringLiteral("%1 frames per second").arg(f.num);
    return QStringLiteral("%1 frames per second").arg(double(f.num) / f.den, 0, 'f', 2);
}

QDialogButtonBox* Buttons(QDialog* d) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
    box->setObjectName(QStringLiteral("buttonBox"));
    QObject::connect(box, &QDialogButtonBox::accepted, d, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, d, &QDialog::reject);
    return box;
}

}  // namespace

std::vector<FormatOption> FormatOptions(const GstCaps* offered, const DriverSettings& settings) {
    std::vector<FormatOption> out;
    if (!offered) return out;
    const char* media = UsesMjpeg(offered, settings) ? "image/jpeg" : "video/x-raw";
    const auto option = [&](int w, int h) -> FormatOption& {
        auto it = std::find_if(out.begin(), out.end(),
                               [&](const auto& o) { return o.width == w && o.height == h; });
        if (it != out.end()) return *it;
        out.push_back({w, h, {}});
        return out.back();
    };
    for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
        const GstStructure* s = gst_caps_get_structure(offered, i);
        if (!gst_structure_has_name(s, media)) continue;
        const GValue* rates = gst_structure_get_value(s, "framerate");
        int w = 0;
        int h = 0;
        if (gst_structure_get_int(s, "width", &w) && gst_structure_get_int(s, "height", &h)) {
            AddRates(rates, option(w, h).rates);
            continue;
        }
        // A camera that scales offers ranges; list the usual sizes within them.
        for (const auto& [cw, ch] : kCommonSizes) {
            if (FitsInt(gst_structure_get_value(s, "width"), cw) &&
                FitsInt(gst_structure_get_value(s, "height"), ch))
                AddRates(rates, option(cw, ch).rates);
        }
    }
    for (auto& o : out) {
        std::sort(o.rates.begin(), o.rates.end(), [](Fraction a, Fraction b) {
            return int64_t(a.num) * b.den > int64_t(b.num) * a.den;
        });
    }
    return out;
}

VideoSourceDialog::VideoSourceDialog(const Camera& current, bool firstInUse,
                                     std::vector<Camera> cameras,
                                     const std::optional<std::vector<PictureControl>>& controls,
                                     DriverSettings settings, QWidget* parent)
    : QDialog(parent),
      cameraList_(std::move(cameras)),
      settings_(std::move(settings)),
      cameras_(new QComboBox(this)),
      form_(new QFormLayout) {
    setObjectName(QStringLiteral("VideoSourceDialog"));
    setWindowTitle(tr("Video Source"));
    cameras_->setObjectName(QStringLiteral("cameraList"));
    cameras_->addItem(tr("First video device"), -1);
    for (size_t i = 0; i < cameraList_.size(); ++i) {
        const Camera& c = cameraList_[i];
        cameras_->addItem(c.path.isEmpty() || c.path == c.name
                              ? c.name
                              : QStringLiteral("%1 (%2)").arg(c.name, c.path),
                          int(i));
    }
    int selected = 0;
    for (size_t i = 0; !firstInUse && i < cameraList_.size(); ++i) {
        if (cameraList_[i] == current) selected = int(i) + 1;
    }
    cameras_->setCurrentIndex(selected);
    shownCamera_ = selected;

    form_->addRow(tr("Camera:"), cameras_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form_);
    auto* buttons = Buttons(this);
    defaults_ = buttons->addButton(QDialogButtonBox::RestoreDefaults);
    defaults_->setObjectName(QStringLiteral("defaults"));
    defaults_->setText(tr("Defaults"));
    defaults_->hide();
    connect(defaults_, &QPushButton::clicked, this, [this] {
        for (const Control& c : controls_) c.slider->setValue(c.defaultValue);
    });
    layout->addWidget(buttons);
    if (controls) {
        SetControls(*controls);
    } else {
        reading_ = new QLabel(tr("Asking the camera for its picture controls..."), this);
        reading_->setObjectName(QStringLiteral("readingControls"));
        form_->addRow(reading_);
    }
}

void VideoSourceDialog::SetControls(const std::vector<PictureControl>& controls) {
    if (reading_) {
        form_->removeRow(reading_);
        reading_ = nullptr;
    }
    if (controls.empty()) {
        auto* none = new QLabel(tr("This camera offers no picture controls."), this);
        none->setObjectName(QStringLiteral("noControls"));
        form_->addRow(none);
    }
    for (const auto& c : controls) {
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(QStringLiteral("control_") + c.name);
        slider->setRange(c.minimum, c.maximum);
        slider->setValue(
            std::clamp(settings_.controls.value(c.name, c.value), c.minimum, c.maximum));
        auto* value = new QLabel(this);
        value->setObjectName(QStringLiteral("value_") + c.name);
        // Wide enough for any value of the range, so the slider does not jump.
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(
            QString::number(std::abs(c.minimum) > std::abs(c.maximum) ? c.minimum : c.maximum) +
            QLatin1Char('0')));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setNum(slider->value());
        connect(slider, &QSlider::valueChanged, value, qOverload<int>(&QLabel::setNum));
        auto* row = new QHBoxLayout;
        row->addWidget(slider, 1);
        row->addWidget(value);
        form_->addRow(c.label + QLatin1Char(':'), row);
        controls_.push_back({c.name, c.defaultValue, slider});
    }
    defaults_->setVisible(!controls.empty());
}

std::optional<Camera> VideoSourceDialog::ChosenCamera() const {
    const int i = cameras_->currentData().toInt();
    if (i < 0 || size_t(i) >= cameraList_.size()) return std::nullopt;
    return cameraList_[size_t(i)];
}

bool VideoSourceDialog::CameraChanged() const {
    return cameras_->currentIndex() != shownCamera_;
}

DriverSettings VideoSourceDialog::Apply(DriverSettings settings) const {
    for (const Control& c : controls_) settings.controls[c.name] = c.slider->value();
    return settings;
}

VideoFormatDialog::VideoFormatDialog(const GstCaps* offered, const DriverSettings& settings,
                                     Fraction nextRate, QWidget* parent)
    : QDialog(parent),
      options_(FormatOptions(offered, settings)),
      sizes_(new QComboBox(this)),
      rates_(new QComboBox(this)) {
    setObjectName(QStringLiteral("VideoFormatDialog"));
    setWindowTitle(tr("Video Format"));
    sizes_->setObjectName(QStringLiteral("sizeList"));
    rates_->setObjectName(QStringLiteral("rateList"));
    // What the next clip would be recorded at, as the clip itself decides it.
    const auto next = ChooseFormat(offered, settings, nextRate);
    int current = 0;
    for (size_t i = 0; i < options_.size(); ++i) {
        const auto& o = options_[i];
        sizes_->addItem(QStringLiteral("%1 × %2").arg(o.width).arg(o.height));
        if (next && o.width == next->width && o.height == next->height) current = int(i);
    }
    sizes_->setCurrentIndex(current);
    FillRates(next ? next->outputRate : BoundedFrameRate(nextRate));
    connect(sizes_, &QComboBox::currentIndexChanged, this, [this] { FillRates(SelectedRate()); });

    auto* form = new QFormLayout;
    form->addRow(tr("Picture size:"), sizes_);
    form->addRow(tr("Frame rate:"), rates_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Buttons(this));
}

Fraction VideoFormatDialog::SelectedRate() const {
    const QPoint r = rates_->currentData().toPoint();
    return {r.x(), r.y()};
}

void VideoFormatDialog::FillRates(Fraction keep) {
    rates_->clear();
    const int i = sizes_->currentIndex();
    if (i < 0 || size_t(i) >= options_.size()) return;
    // A rate the camera does not offer is still what the clip is recorded
    // at (frames are dropped or repeated), so it is listed too.
    std::vector<Fraction> rates = options_[size_t(i)].rates;
    if (keep.num > 0 && std::find(rates.begin(), rates.end(), keep) == rates.end()) {
        rates.push_back(keep);
        std::sort(rates.begin(), rates.end(), [](Fraction a, Fraction b) {
            return int64_t(a.num) * b.den > int64_t(b.num) * a.den;
        });
    }
    int current = 0;
    for (const Fraction f : rates) {
        if (f == keep) current = rates_->count();
        rates_->addItem(RateText(f), QPoint(f.num, f.den));
    }
    rates_->setCurrentIndex(current);
}

DriverSettings VideoFormatDialog::Apply(DriverSettings settings) const {
    const int i = sizes_->currentIndex();
    if (i < 0 || size_t(i) >= options_.size()) return settings;
    settings.width = options_[size_t(i)].width;
    settings.height = options_[size_t(i)].height;
    if (rates_->currentIndex() >= 0) {
        const Fraction r = SelectedRate();
        settings.frameRateNum = r.num;
        settings.frameRateDen = r.den;
    }
    return settings;
}

VideoParametersDialog::VideoParametersDialog(const GstCaps* offered, const DriverSettings& settings,
                                             QWidget* parent)
    : QDialog(parent), passMjpeg_(new QCheckBox(this)), quality_(new QSpinBox(this)) {
    setObjectName(QStringLiteral("VideoParametersDialog"));
    setWindowTitle(tr("Video Parameters"));
    passMjpeg_->setObjectName(QStringLiteral("passMjpeg"));
    passMjpeg_->setText(tr("Keep the camera's own MJPEG as it is"));
    // The box says what a clip will do with this camera; a choice it cannot
    // change is shown, not offered.
    passMjpeg_->setChecked(UsesMjpeg(offered, settings));
    auto* mjpegRow = new QHBoxLayout;
    mjpegRow->addWidget(passMjpeg_);
    const auto reason = [&](const QString& text, const char* name) {
        passMjpeg_->setEnabled(false);
        auto* note = new QLabel(text, this);
        note->setObjectName(QLatin1String(name));
        note->setEnabled(false);
        mjpegRow->addWidget(note, 1);
    };
    if (!OffersMjpeg(offered))
        reason(tr("(this camera delivers no MJPEG; its video is always encoded)"), "noMjpeg");
    else if (!OffersRaw(offered))
        reason(tr("(this camera delivers only MJPEG; it is always kept)"), "onlyMjpeg");

    const int defaultQuality = DriverSettings{}.jpegQuality;
    quality_->setObjectName(QStringLiteral("jpegQuality"));
    quality_->setRange(1, 100);
    quality_->setValue(settings.jpegQuality);
    auto* range = new QLabel(tr("1–100, default %1").arg(defaultQuality), this);
    range->setObjectName(QStringLiteral("jpegQualityRange"));
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(quality_);
    qualityRow->addWidget(range, 1);

    auto* form = new QFormLayout;
    form->addRow(mjpegRow);
    form->addRow(tr("JPEG quality:"), qualityRow);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Buttons(this));
}

DriverSettings VideoParametersDialog::Apply(DriverSettings settings) const {
    // A box the camera decides for keeps the choice for a camera that lets it.
    if (passMjpeg_->isEnabled()) settings.passMjpeg = passMjpeg_->isChecked();
    settings.jpegQuality = quality_->value();
    return settings;
}

}  // namespace camwarden::capgst
