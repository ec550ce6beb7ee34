#include "app/ErrorTrap.h"
#include "app/Form1.h"
#include "app/Logging.h"

#include <QCheckBox>

namespace camwarden {
namespace {

// Each driver button tests the connection, then opens its dialog.
template <typename OpenDialog>
void DriverButton(Form1& form, const char* reportedName, OpenDialog open) {
    ErrorTrap trap(form.dialogs(), QLatin1String(reportedName));
    if (trap.If(100, [&] { return !form.Cam().ConnectWebCam(); })) {
        trap(102, [&] { form.dialogs().MsgBox(NoWebcamMessage()); });
        return;
    }
    trap(104, [&] { open(form.Cam()); });
}

}  // namespace

void Form1::PushButton3_Click() {
    DriverButton(*this, "Form1.PushButton3_Click", [](modCam& cam) {
        if (CaptureWindow* w = cam.hCapWnd()) w->DlgVideoCompression();
    });
}

void Form1::PushButton5_Click() {
    DriverButton(*this, "Form1.PushButton5_Click",
                 [](modCam& cam) { cam.ShowVideoSourceDialog(); });
}

void Form1::PushButton6_Click() {
    DriverButton(*this, "Form1.PushButton6_Click",
                 [](modCam& cam) { cam.ShowVideoFormatDialog(); });
}

void Form1::Check13_Click() {
    if (FormLoading) return;
    // Told to the capture window with each clip, from the next one on.
    Untrapped("Form1.Check13_Click", [&] { StoreSwitch(QStringLiteral("Time Stamp"), Check13); });
}

void Form1::LoadTimeStamp(const QString& on) {
    if (on != QLatin1String("On") && on != QLatin1String("Off"))
        qCWarning(lcApp).noquote()
            << QStringLiteral("The stored time stamp \"%1\" cannot be used (On or Off): it is off")
                   .arg(on);
    Check13->setChecked(on == QLatin1String("On"));
}

}  // namespace camwarden
