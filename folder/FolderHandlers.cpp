#include "app/ErrorTrap.h"
#include "app/Form1.h"
#include "app/Helpers.h"
#include "folder/AddFolder.h"

#include <QLineEdit>

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

}  // namespace camwarden
