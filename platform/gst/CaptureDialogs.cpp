#include "platform/gst/CaptureDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
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

VideoSourceDialog::VideoSourceDialog(const Camera& current, const std::vector<DeviceEntry>& devices,
                                     const std::vector<PictureControl>& controls,
                                     const DriverSettings& settings, QWidget* parent)
    : QDialog(parent), cameras_(new QComboBox(this)) {
    setObjectName(QStringLiteral("VideoSourceDialog"));
    setWindowTitle(tr("Video Source"));
    cameras_->setObjectName(QStringLiteral("cameraList"));
    cameras_->addItem(tr("First video device"), QString());
    for (const auto& d : devices)
        cameras_->addItem(QStringLiteral("%1 (%2)").arg(d.card, d.path), d.path);
    // A test camera is only ever this run's choice; it is listed so that
    // keeping it is possible.
    if (current.IsTest()) cameras_->addItem(tr("Test camera (%1)").arg(current.path), current.path);
    const QString selected = current.IsTest() ? current.path : settings.device;
    const int index = cameras_->findData(selected);
    cameras_->setCurrentIndex(index >= 0 ? index : 0);

    auto* form = new QFormLayout;
    form->addRow(tr("Camera:"), cameras_);
    if (controls.empty()) {
        auto* none = new QLabel(tr("This camera offers no picture controls."), this);
        none->setObjectName(QStringLiteral("noControls"));
        form->addRow(none);
    }
    for (const auto& c : controls) {
        const int value = settings.controls.value(c.name, c.value);
        QWidget* w = nullptr;
        if (c.boolean) {
            auto* box = new QCheckBox(this);
            box->setChecked(value != 0);
            w = box;
        } else {
            auto* slider = new QSlider(Qt::Horizontal, this);
            slider->setRange(c.minimum, c.maximum);
            slider->setSingleStep(c.step);
            slider->setValue(value);
            w = slider;
        }
        w->setObjectName(QStringLiteral("control_") + c.name);
        form->addRow(c.label + QLatin1Char(':'), w);
        controls_.emplace_back(c.name, w);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Buttons(this));
}

QString VideoSourceDialog::ChosenCamera() const {
    return cameras_->currentData().toString();
}

DriverSettings VideoSourceDialog::Apply(DriverSettings settings) const {
    const Camera chosen = CameraFromName(ChosenCamera());
    if (!chosen.IsTest()) settings.device = chosen.path;
    for (const auto& [name, w] : controls_) {
        if (auto* box = qobject_cast<QCheckBox*>(w)) settings.controls[name] = box->isChecked();
        if (auto* slider = qobject_cast<QSlider*>(w)) settings.controls[name] = slider->value();
    }
    return settings;
}

VideoFormatDialog::VideoFormatDialog(const GstCaps* offered, const DriverSettings& settings,
                                     QWidget* parent)
    : QDialog(parent),
      options_(FormatOptions(offered, settings)),
      sizes_(new QComboBox(this)),
      rates_(new QComboBox(this)),
      initialRate_{settings.frameRateNum, settings.frameRateDen} {
    setObjectName(QStringLiteral("VideoFormatDialog"));
    setWindowTitle(tr("Video Format"));
    sizes_->setObjectName(QStringLiteral("sizeList"));
    rates_->setObjectName(QStringLiteral("rateList"));
    int current = -1;
    for (size_t i = 0; i < options_.size(); ++i) {
        const auto& o = options_[i];
        sizes_->addItem(QStringLiteral("%1 × %2").arg(o.width).arg(o.height));
        if (o.width == settings.width && o.height == settings.height) current = int(i);
    }
    if (current < 0) {
        // Nothing chosen yet: show what a clip would use.
        const auto chosen = ChooseFormat(offered, settings, {15, 1});
        for (size_t i = 0; chosen && i < options_.size(); ++i) {
            if (options_[i].width == chosen->width && options_[i].height == chosen->height)
                current = int(i);
        }
    }
    sizes_->setCurrentIndex(std::max(current, 0));
    FillRates();
    connect(sizes_, &QComboBox::currentIndexChanged, this, [this] { FillRates(); });

    auto* form = new QFormLayout;
    form->addRow(tr("Picture size:"), sizes_);
    form->addRow(tr("Frame rate:"), rates_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Buttons(this));
}

void VideoFormatDialog::FillRates() {
    const Fraction keep = rates_->count() > 0 ? Fraction{rates_->currentData().toPoint().x(),
                                                         rates_->currentData().toPoint().y()}
                                              : initialRate_;
    rates_->clear();
    const int i = sizes_->currentIndex();
    if (i < 0 || size_t(i) >= options_.size()) return;
    int current = 0;
    for (const Fraction f : options_[size_t(i)].rates) {
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
        const QPoint r = rates_->currentData().toPoint();
        settings.frameRateNum = r.x();
        settings.frameRateDen = r.y();
    }
    return settings;
}

VideoParametersDialog::VideoParametersDialog(bool cameraOffersMjpeg, const DriverSettings& settings,
                                             QWidget* parent)
    : QDialog(parent), passMjpeg_(new QCheckBox(this)), quality_(new QSpinBox(this)) {
    setObjectName(QStringLiteral("VideoParametersDialog"));
    setWindowTitle(tr("Video Parameters"));
    passMjpeg_->setObjectName(QStringLiteral("passMjpeg"));
    passMjpeg_->setText(tr("Keep the camera's own MJPEG as it is"));
    passMjpeg_->setChecked(settings.passMjpeg);
    quality_->setObjectName(QStringLiteral("jpegQuality"));
    quality_->setRange(1, 100);
    quality_->setValue(settings.jpegQuality);

    auto* form = new QFormLayout;
    form->addRow(passMjpeg_);
    if (!cameraOffersMjpeg) {
        auto* note =
            new QLabel(tr("This camera delivers no MJPEG; its video is always encoded."), this);
        note->setObjectName(QStringLiteral("noMjpeg"));
        form->addRow(note);
    }
    form->addRow(tr("JPEG quality:"), quality_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Buttons(this));
}

DriverSettings VideoParametersDialog::Apply(DriverSettings settings) const {
    settings.passMjpeg = passMjpeg_->isChecked();
    settings.jpegQuality = quality_->value();
    return settings;
}

}  // namespace camwarden::capgst
