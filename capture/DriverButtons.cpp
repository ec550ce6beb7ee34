#include "app/ErrorTrap.h"
#include "app/Form1.h"

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

}  // namespace camwarden
