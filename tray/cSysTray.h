#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "tray/TrayShell.h"

class QEventLoop;

namespace camwarden {

// A picture property value. Only an icon can go into the tray; the other
// kinds exist so that assigning one can be refused as the control always did.
struct Picture {
    enum class Type { None = 0, Bitmap = 1, Metafile = 2, Icon = 3 };

    Type type = Type::None;
    QIcon icon;
    QPixmap bitmap;

    static Picture FromIcon(const QIcon& icon);
    static Picture FromBitmap(const QPixmap& bitmap);
    bool IsEmpty() const;
};

// The three keys stored with the window's layout; a missing key takes its
// default when loaded.
struct TrayConfiguration {
    std::optional<bool> InTray;
    std::optional<Picture> TrayIcon;
    std::optional<QString> TrayTip;
};

// Holds ShowBalloon's caller while the rest of the program keeps running.
class BalloonWait {
public:
    virtual ~BalloonWait() = default;
    // Returns once `limit` has passed or Stop() was called.
    virtual void Wait(std::chrono::milliseconds limit) = 0;
    // Ends every wait in progress.
    virtual void Stop() = 0;
};

// Runs a nested event loop; the limit is kept by a monotonic timer, so a
// wait never depends on the time of day.
class EventLoopBalloonWait final : public BalloonWait {
public:
    void Wait(std::chrono::milliseconds limit) override;
    void Stop() override;

private:
    std::vector<QEventLoop*> running_;  // innermost last; owned by Wait's frames
};

// The notification-area icon: keeps icon and tooltip in the shell, shows
// balloons and turns the shell's mouse reports into events.
class cSysTray : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool InTray READ InTray WRITE SetInTray)
    Q_PROPERTY(QString TrayTip READ TrayTip WRITE SetTrayTip)

public:
    static constexpr std::int32_t MaxShowTimer = 2147483;

    explicit cSysTray(TrayShell& shell, QObject* parent = nullptr);
    cSysTray(TrayShell& shell, std::unique_ptr<BalloonWait> wait, QObject* parent = nullptr);
    ~cSysTray() override;

    cSysTray(const cSysTray&) = delete;
    cSysTray& operator=(const cSysTray&) = delete;

    bool InTray() const { return inTray_; }
    void SetInTray(bool value);

    const Picture& TrayIcon() const { return trayIcon_; }
    void SetTrayIcon(const Picture& value);

    const QString& TrayTip() const { return trayTip_; }
    void SetTrayTip(const QString& value);

    // Throws VbError::Overflow when ShowTimer seconds do not fit in 32-bit
    // milliseconds; nothing is sent then.
    void ShowBalloon(const QString& Tip, const QString& sTitle, std::int32_t ShowTimer,
                     bool ShowOnce);

    bool IconAdded() const { return iconAdded_; }
    bool BalloonShowing() const { return balloonShowing_; }
    std::int32_t BalloonOnceCount() const { return balloonOnceCount_; }

    // The picture shown by the component itself; it follows TrayIcon.
    const Picture& OwnPicture() const { return ownPicture_; }

    // Defaults of a freshly placed component.
    void InitConfiguration();
    // Applies the keys in their stored order through the properties.
    void LoadConfiguration(const TrayConfiguration& stored);
    TrayConfiguration SaveConfiguration() const;

    TrayShell& Shell() { return shell_; }

Q_SIGNALS:
    void MouseMove(int Id);
    void MouseDown(int Button, int Id);
    void MouseUp(int Button, int Id);
    void MouseDblClick(int Button, int Id);

private:
    void AddIcon();
    void RemoveIcon();
    void TrayWindowProc(std::uint32_t uMsg, std::uint32_t wParam, std::uint32_t lParam);
    void Dispatch(std::uint32_t lParam, std::uint32_t wParam);
    NotifyIconData NewRecord() const;

    TrayShell& shell_;
    std::unique_ptr<BalloonWait> wait_;
    bool inTray_ = false;
    std::uint32_t id_ = 0;
    QString trayTip_;
    Picture trayIcon_;
    Picture ownPicture_;
    bool iconAdded_ = false;
    bool balloonShowing_ = false;
    std::int32_t balloonOnceCount_ = 0;
    TrayShell::Receiver prevWindowProc_;
};

}  // namespace camwarden
