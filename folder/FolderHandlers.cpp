#include "app/ErrorTrap.h"
#include "app/Form1.h"
#include "app/Helpers.h"
#include "folder/AddFolder.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <cmath>

namespace camwarden {

void Form1::Text1_Change() {
    // Every keystroke is stored, as typed: nothing is checked here.
    Untrapped("Form1.Text1_Change",
              [&] { settings().Write(QStringLiteral("Path"), Text1->text()); });
}

void Form1::Text1_GotFocus() {
    Text1->selectAll();
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
}

void Form1::Check9_Click() {
    if (FormLoading) return;
    Untrapped("Form1.Check9_Click", [&] {
        settings().Write(QStringLiteral("Size Limit"),
                         Check9->isChecked() ? QStringLiteral("On") : QStringLiteral("Off"));
        cam_.FolderLimitChanged(*this);
    });
}

void Form1::Text2_Change() {
    if (FormLoading) return;
    Untrapped("Form1.Text2_Change", [&] {
        settings().Write(QStringLiteral("Size Limit GB"), QString::number(Text2->value(), 'f', 1));
    });
}

void Form1::LoadFolderLimit(const QString& on, const QString& gigabytes) {
    bool ok = false;
    const double gb = gigabytes.toDouble(&ok);
    const bool valid = ok && gb >= kFolderLimitMinGB && gb <= kFolderLimitMaxGB;
    Text2->setValue(valid ? gb : kFolderLimitDefaultGB);
    Check9->setChecked(valid && on == QLatin1String("On"));
}

int64_t Form1::FolderLimitBytes() const {
    // Gigabytes as disks are sold: 10^9 bytes.
    return Check9->isChecked() ? std::llround(Text2->value() * 1e9) : 0;
}

}  // namespace camwarden
