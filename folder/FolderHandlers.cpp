#include "app/ErrorTrap.h"
#include "app/Form1.h"
#include "app/Helpers.h"
#include "app/Logging.h"
#include "folder/AddFolder.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <cmath>
#include <optional>

namespace camwarden {

namespace {

// A stored "Size Limit GB" as the box shows it; none when it cannot show it
// as stored.
std::optional<double> UsableFolderLimitGB(const QString& stored) {
    bool ok = false;
    const double gb = stored.toDouble(&ok);
    if (!ok || !std::isfinite(gb) || gb < kFolderLimitMinGB || gb > kFolderLimitMaxGB)
        return std::nullopt;
    // The box shows tenths: a finer limit would be used as another than shown.
    const double tenths = gb * 10;
    if (std::abs(tenths - std::round(tenths)) > 1e-6) return std::nullopt;
    return std::round(tenths) / 10;
}

// A stored "Age Limit Days" as the box shows it; none when it is no whole
// number of days the box offers.
std::optional<int> UsableAgeLimitDays(const QString& stored) {
    bool ok = false;
    const int days = stored.toInt(&ok);
    if (!ok || days < kAgeLimitMinDays || days > kAgeLimitMaxDays) return std::nullopt;
    return days;
}

}  // namespace

void Form1::Text1_Change() {
    // Every keystroke is stored, as typed: nothing is checked here.
    Untrapped("Form1.Text1_Change",
              [&] { settings().Write(QStringLiteral("Path"), Text1->text()); });
}

void Form1::Text1_GotFocus() {
    Text1->selectAll();
}

void Form1::Text1_Validate() {
    // Not at each keystroke: the folders named on the way to the one meant
    // (a parent holding old clips of its own) are not the user's to keep.
    Untrapped("Form1.Text1_Validate", [&] { cam_.AgeLimitChanged(*this); });
}

void Form1::PushButton1_Click() {
    ErrorTrap trap(dialogs(), QStringLiteral("Form1.PushButton1_Click"));
    QString chosen;
    trap(100, [&] {
        chosen = AddFolder::BrowseForFolder(dialogs(), this,
                                            QStringLiteral("Please select folder:"), QString());
    });
    if (trap.If(102, [&] { return chosen.isEmpty(); })) return;
    trap(104, [&] { Text1->setText(chosen); });
    if (trap.If(106, [&] { return !Text1->text().endsWith(PathSeparator()); })) {
        trap(108, [&] { Text1->setText(Text1->text() + PathSeparator()); });
    }
    // A folder chosen is one meant: the age limit keeps it from now on.
    cam_.AgeLimitChanged(*this);
}

void Form1::Check9_Click() {
    if (FormLoading) return;
    Untrapped("Form1.Check9_Click", [&] {
        StoreSwitch(QStringLiteral("Size Limit"), Check9);
        cam_.FolderLimitChanged(*this);
    });
}

void Form1::Text2_Change() {
    // Once the number is typed (Enter, or the box losing the focus): the
    // numbers on the way to it are no limit of the user's.
    if (FormLoading) return;
    Untrapped("Form1.Text2_Change", [&] {
        settings().Write(QStringLiteral("Size Limit GB"), QString::number(Text2->value(), 'f', 1));
    });
}

void Form1::LoadFolderLimit(const QString& on, const QString& gigabytes) {
    const std::optional<double> gb = UsableFolderLimitGB(gigabytes);
    if (!gb && (on == QLatin1String("On") || !gigabytes.isEmpty()))
        qCWarning(lcApp).noquote() << QStringLiteral(
                                          "The stored folder size limit \"%1\" GB cannot be used "
                                          "(%2 to %3 GB, in tenths): the limit is off")
                                          .arg(gigabytes)
                                          .arg(kFolderLimitMinGB)
                                          .arg(kFolderLimitMaxGB);
    Text2->setValue(gb.value_or(kFolderLimitDefaultGB));
    Check9->setChecked(gb && on == QLatin1String("On"));
}

void Form1::Check10_Click() {
    if (FormLoading) return;
    Untrapped("Form1.Check10_Click", [&] {
        StoreSwitch(QStringLiteral("Age Limit"), Check10);
        cam_.AgeLimitChanged(*this);
    });
}

void Form1::Text3_Change() {
    // Once typed, as the size limit: a "3" on the way to "30" is no limit.
    if (FormLoading) return;
    Untrapped("Form1.Text3_Change", [&] {
        settings().Write(QStringLiteral("Age Limit Days"), QString::number(Text3->value()));
        cam_.AgeLimitChanged(*this);
    });
}

void Form1::LoadAgeLimit(const QString& on, const QString& days) {
    const std::optional<int> usable = UsableAgeLimitDays(days);
    const bool switched = on == QLatin1String("On") || on == QLatin1String("Off");
    if (!switched || (!usable && (on == QLatin1String("On") || !days.isEmpty())))
        qCWarning(lcApp).noquote() << QStringLiteral(
                                          "The stored clip age limit \"%1\" (%2 days) cannot be "
                                          "used (On or Off, and %3 to %4 days): the limit is off")
                                          .arg(on, days.isEmpty() ? QStringLiteral("no") : days)
                                          .arg(kAgeLimitMinDays)
                                          .arg(kAgeLimitMaxDays);
    Text3->setValue(usable.value_or(kAgeLimitDefaultDays));
    Check10->setChecked(usable && on == QLatin1String("On"));
}

int Form1::AgeLimitDays() const {
    return Check10->isChecked() ? Text3->value() : 0;
}

int64_t Form1::FolderLimitBytes() const {
    // Gigabytes as disks are sold: 10^9 bytes.
    return Check9->isChecked() ? std::llround(Text2->value() * 1e9) : 0;
}

}  // namespace camwarden
