#include "app/ErrorTrap.h"
#include "app/Form1.h"
#include "app/Helpers.h"
#include "app/Logging.h"
#include "app/StoredLimit.h"
#include "folder/AddFolder.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <cmath>
#include <optional>
#include <utility>

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
        // Where the clips go now; with none yet, the desktop, not the
        // folder the program happened to be started in.
        QString start = Text1->text();
        if (start.isEmpty())
            start = platform().shell->SpecialFolderPath(ShellFolders::kDesktop, false);
        chosen = AddFolder::BrowseForFolder(dialogs(), this,
                                            QStringLiteral("Please select folder:"), start);
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
        StoreFolderLimit();
        cam_.FolderLimitChanged(*this);
    });
}

void Form1::Text2_Change() {
    // Once the number is typed (Enter, or the box losing the focus): the
    // numbers on the way to it are no limit of the user's.
    if (FormLoading) return;
    Untrapped("Form1.Text2_Change", [&] { StoreFolderLimit(); });
}

// Switch and number together, as the window shows them: a tick stored alone
// comes back without the number it was ticked with, and a number stored alone
// switches on a limit the window showed off.
void Form1::StoreFolderLimit() {
    settings().Write(QStringLiteral("Size Limit GB"), QString::number(Text2->value(), 'f', 1));
    StoreSwitch(QStringLiteral("Size Limit"), Check9);
}

void Form1::LoadFolderLimit(const QString& on, const QString& gigabytes) {
    const auto [gb, ticked] = StoredLimit(
        on, gigabytes, UsableFolderLimitGB(gigabytes), kFolderLimitDefaultGB,
        QStringLiteral("folder size limit"), QStringLiteral("GB"),
        QStringLiteral("%1 to %2 GB, in tenths").arg(kFolderLimitMinGB).arg(kFolderLimitMaxGB));
    Text2->setValue(gb);
    Check9->setChecked(ticked);
}

void Form1::Check10_Click() {
    if (FormLoading) return;
    Untrapped("Form1.Check10_Click", [&] {
        StoreAgeLimit();
        cam_.AgeLimitChanged(*this);
    });
}

void Form1::Text3_Change() {
    // Once typed, as the size limit: a "3" on the way to "30" is no limit.
    if (FormLoading) return;
    Untrapped("Form1.Text3_Change", [&] {
        StoreAgeLimit();
        cam_.AgeLimitChanged(*this);
    });
}

void Form1::StoreAgeLimit() {
    settings().Write(QStringLiteral("Age Limit Days"), QString::number(Text3->value()));
    StoreSwitch(QStringLiteral("Age Limit"), Check10);
}

void Form1::LoadAgeLimit(const QString& on, const QString& days) {
    const auto [usable, ticked] =
        StoredLimit(on, days, UsableAgeLimitDays(days), kAgeLimitDefaultDays,
                    QStringLiteral("clip age limit"), QStringLiteral("days"),
                    QStringLiteral("%1 to %2 days").arg(kAgeLimitMinDays).arg(kAgeLimitMaxDays));
    Text3->setValue(usable);
    Check10->setChecked(ticked);
}

int Form1::AgeLimitDays() const {
    return Check10->isChecked() ? Text3->value() : 0;
}

int64_t Form1::FolderLimitBytes() const {
    // Gigabytes as disks are sold: 10^9 bytes.
    return Check9->isChecked() ? std::llround(Text2->value() * 1e9) : 0;
}

}  // namespace camwarden
