#pragma once

#include "app/ListView.h"
#include "app/Platform.h"
#include "app/ProgramState.h"
#include "app/Timer.h"
#include "capture/modCam.h"
#include "schedule/ActiveHours.h"
#include "tray/cSysTray.h"

#include <QCursor>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>

class QAction;
class QCheckBox;
class QDoubleSpinBox;
class QSpinBox;
class QTimeEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QScrollArea;
class QPushButton;

namespace camwarden {

inline constexpr char kProductTitle[] = "Camwarden";

// The program's one window. Controls carry the names (and object names)
// every handler refers to them by.
class Form1 : public QWidget {
    Q_OBJECT
public:
    enum class MousePointer { Default = 0, Hourglass = 11, Custom = 99 };

    Form1(Platform& platform, ProgramState& state, QWidget* parent = nullptr);
    ~Form1() override;

    // Controls, in the order they are created. Owned by the window.
    QGroupBox* Frame4 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    Timer* Timer2 = nullptr;
    QGroupBox* Frame6 = nullptr;
    QCheckBox* Check3 = nullptr;
    QCheckBox* Check8 = nullptr;
    Timer* Timer1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QCheckBox* Check9 = nullptr;      // folder size limit on or off
    QDoubleSpinBox* Text2 = nullptr;  // the limit, in GB
    QLabel* Label1 = nullptr;         // "GB"
    QCheckBox* Check10 = nullptr;     // clip age limit on or off
    QSpinBox* Text3 = nullptr;        // the limit, in days
    QLabel* Label2 = nullptr;         // "days"
    ListView* ListView2 = nullptr;
    QCheckBox* Check11 = nullptr;           // record only in the hours and days given, or always
    QTimeEdit* Text4 = nullptr;             // the hour recording starts
    QLabel* Label3 = nullptr;               // "to"
    QTimeEdit* Text5 = nullptr;             // the hour recording ends
    QLabel* Label4 = nullptr;               // "on"
    std::array<QPushButton*, 7> Check12{};  // the days recorded on, Monday first: toggles
    QPushButton* PushButton4 = nullptr;
    QPushButton* PushButton2 = nullptr;
    ListView* ListView1 = nullptr;
    QPushButton* PushButton3 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton5 = nullptr;
    QCheckBox* Check13 = nullptr;  // stamp the date and time on clips
    std::unique_ptr<cSysTray> cSysTray1;
    QMenu* TrayMenu = nullptr;          // the tray icon's menu
    QAction* TrayShowOrHide = nullptr;  // "Show" while hidden in the tray, else "Hide to tray"
    QAction* TrayQuit = nullptr;        // closes the window, as its close button does

    bool FormLoading = false;
    int32_t IntervalSeconds = 0;
    int32_t ElapsedSeconds = 0;

    // Start-up, once, before the window is first shown.
    void Form_Load();
    // Shows the window as start-up left it: centred, minimised or hidden.
    void ShowAfterLoad();
    // The one way out: releases the camera, stops the schedule.
    void Form_QueryUnload();
    bool Unloaded() const { return unloaded_; }

    // Schedule.
    void PushButton4_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    void UpdateProgress(int32_t maximum, int32_t value);
    void PushButton2_Click();

    // Choices.
    void ListView2_Click();
    void ListView1_Click();
    int32_t GetIntervalSeconds() const;
    std::optional<int32_t> GetClipSeconds();
    void CheckClipAgainstInterval();

    // Output folder.
    void Text1_Change();
    void Text1_GotFocus();
    // The folder typed is done with: Enter, or the box losing the focus.
    void Text1_Validate();
    void PushButton1_Click();
    void Check9_Click();
    void Text2_Change();
    // What the clips in the folder may take, in bytes; 0 when unlimited.
    int64_t FolderLimitBytes() const;
    void Check10_Click();
    void Text3_Change();
    // How many days a clip is kept; 0 when for ever.
    int AgeLimitDays() const;

    // Active hours.
    void Check11_Click();
    void Text4_Change();
    void Text5_Change();
    void Check12_Click(int day);
    // The hours and days as the row shows them.
    ActiveHours ActiveHoursShown() const;

    // Driver dialogs.
    void PushButton3_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void Check13_Click();

    // Startup options.
    void Check3_Click();
    void Check8_Click();

    // Minimise to the tray and back.
    void Form_Resize();
    void cSysTray1_MouseUp(int Button, int Id);
    // Hides the window to the tray; the first time in a run with the notice.
    void HideToTray();
    void TrayShowOrHide_Click();
    // Hidden in the tray, or not shown at all: the menu then offers "Show".
    bool OutOfSight() const;
    void UpdateTrayMenu();
    // Shows the window and gives it the focus, wherever it was.
    void RestoreFromTray();
    // The tray went away: a window hidden in it would be out of reach.
    void TrayLost();

    // Brings the window back to the front, e.g. when a second start asks.
    void ShowAndFocus();
    // Sizes the window for `room`, the screen's work area less the window's
    // frame: where the controls as laid out do not fit, they scroll within it.
    void FitInto(QSize room);

    MousePointer Pointer() const { return pointer_; }
    void SetPointer(MousePointer pointer);
    bool HasCustomPointer() const { return hasCustomPointer_; }

    Platform& platform() { return platform_; }
    ProgramState& state() { return state_; }
    modCam& Cam() { return cam_; }
    Dialogs& dialogs() { return *platform_.dialogs; }
    SettingsStore& settings() { return *platform_.settings; }
    FolderProbe& folderProbe() { return folderProbe_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateControls();
    // FitInto the work area of the screen the window is on.
    void FitToScreen();
    void CentreOnScreen();
    // The frame the system draws around the window, not less than some room.
    QMargins FrameMargins() const;
    void ConnectHandlers();
    QString HandCursorPath() const;
    // The folder an optional file is taken from: beside the program, else
    // the installed data folder.
    QString FolderWith(const QString& relative) const;
    void LoadHandCursor(const QString& path);
    // A check box's state as the settings keep it: "On" or "Off".
    void StoreSwitch(const QString& key, const QCheckBox* box);
    // A limit stored wrong means none: the box shows it off, the log says why.
    void LoadFolderLimit(const QString& on, const QString& gigabytes);
    void LoadAgeLimit(const QString& on, const QString& days);
    void StoreFolderLimit();
    void StoreAgeLimit();
    void LoadActiveHours(const QString& on, const QString& from, const QString& to,
                         const QString& days);
    void StoreActiveHours();
    // The schedule tick while the row is ticked: clips only inside a span,
    // the camera let go outside one.
    void ActiveHoursTick();
    void WaitForSpan(const SpanPlace& place, int64_t nowMs);
    // The status line's countdown to the next clip, and its log line.
    void ShowCountdown(const QString& left);
    // A stored stamp neither on nor off is shown off, and the log says so.
    void LoadTimeStamp(const QString& on);

    Platform& platform_;
    ProgramState& state_;
    modCam cam_;
    FolderProbe folderProbe_;
    MousePointer pointer_ = MousePointer::Default;
    QCursor customPointer_;
    bool hasCustomPointer_ = false;
    bool unloaded_ = false;
    bool selectOnRelease_ = false;
    // Made only once the window does not fit its screen: scrolls the controls.
    QScrollArea* scroll_ = nullptr;
    // The opening of the span the last schedule tick fell in.
    static constexpr int64_t kNoTickYet = -1;
    static constexpr int64_t kOutsideSpans = -2;
    int64_t spanOfLastTick_ = kNoTickYet;
    SpanCache spans_;
    SpanCache spansAfter_;  // where the end of the span the tick is in stands
};

// Texts the window shows.
inline constexpr char kFolderLimitCaption[] =
    "Delete the oldest clips when this folder holds more than";
inline constexpr double kFolderLimitMinGB = 0.1;
inline constexpr double kFolderLimitMaxGB = 100000;
inline constexpr double kFolderLimitDefaultGB = 10;
inline constexpr char kAgeLimitCaption[] = "Delete clips older than";
inline constexpr int kAgeLimitMinDays = 1;
inline constexpr int kAgeLimitMaxDays = 3650;
inline constexpr int kAgeLimitDefaultDays = 30;
inline constexpr char kActiveHoursCaption[] = "Record only from";
inline constexpr char kTimeStampCaption[] = "Stamp the date and time on clips";
inline constexpr char kStatusOff[] = "Off.";
inline constexpr char kStatusSwitchedOn[] = "On. Next Webcam Record will occur in:";
inline constexpr char kStatusCountdown[] = "On. Next webcam record will occur in: ";
inline constexpr char kStatusDesign[] = "On. Next webcam record will occur in:";
inline constexpr char kStatusRecording[] = "Recording...";
inline constexpr char kTurnOn[] = "Turn On";
inline constexpr char kTurnOff[] = "Turn Off";
inline constexpr char kStartupEntryFailed[] =
    "Camwarden could not be set to start at log-on: the startup entry could not be written.";
inline constexpr char kTrayNotice[] =
    "has been minimized to the system tray.\r\nClick on the blue 'Q' icon (Q for Quillory) to "
    "bring the software back.";

QString SecondsToClock(int32_t seconds);

}  // namespace camwarden
