#include "capture/SaveSS.h"

#include "app/ErrorTrap.h"
#include "app/Form1.h"
#include "app/Helpers.h"

#include <QLineEdit>

namespace camwarden::SaveSS {

void SaveAll(Form1& form) {
    ErrorTrap trap(form.dialogs(), QStringLiteral("SaveSS.SaveAll"));
    const bool folderThere =
        trap.If(100, [&] { return form.folderProbe().Exists(form.Text1->text()); });
    // Stopped whatever the folder: a capture left running would never end.
    trap(102, [&] {
        if (CaptureWindow* window = form.Cam().hCapWnd()) window->Stop();
    });
    if (!folderThere) {
        trap(104, [&] { form.dialogs().MsgBox(QStringLiteral("Folder does not exist")); });
    }
    trap(106, [&] { form.Timer2->SetEnabled(false); });
    trap(108, [&] { form.Timer1->SetEnabled(true); });
}

}  // namespace camwarden::SaveSS
