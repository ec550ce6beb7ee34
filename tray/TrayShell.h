#pragma once

#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>

class QMenu;

namespace camwarden {

// Operations of the shell's notification-area call.
enum class NotifyIconMessage : std::uint32_t { Add = 0, Modify = 1, Delete = 2 };

// Which fields of a NotifyIconData record the shell should look at.
struct Nif {
    static constexpr std::uint32_t Message = 1;
    static constexpr std::uint32_t Icon = 2;
    static constexpr std::uint32_t Tip = 4;
    static constexpr std::uint32_t Info = 16;
};

// The window message under which the shell reports mouse and balloon activity.
inline constexpr std::uint32_t TrayCallbackMessage = 1125;

// What the shell reports for the icon (the lParam of the callback message).
struct TrayNotification {
    static constexpr std::uint32_t MouseMove = 512;
    static constexpr std::uint32_t LeftButtonDown = 513;
    static constexpr std::uint32_t LeftButtonUp = 514;
    static constexpr std::uint32_t LeftButtonDblClk = 515;
    static constexpr std::uint32_t RightButtonDown = 516;
    static constexpr std::uint32_t RightButtonUp = 517;
    static constexpr std::uint32_t RightButtonDblClk = 518;
    static constexpr std::uint32_t MiddleButtonDown = 519;
    static constexpr std::uint32_t MiddleButtonUp = 520;
    static constexpr std::uint32_t BalloonShow = 1026;
    static constexpr std::uint32_t BalloonHide = 1027;
    static constexpr std::uint32_t BalloonTimeout = 1028;
    static constexpr std::uint32_t BalloonUserClick = 1029;
};

// One request to the shell. Built from scratch for every call, so anything
// not set is zero or empty. Texts longer than their field are cut by
// FitTrayText before they get here.
struct NotifyIconData {
    // Capacities of the text fields, without their terminating zero.
    static constexpr qsizetype TipCapacity = 127;
    static constexpr qsizetype InfoCapacity = 255;
    static constexpr qsizetype InfoTitleCapacity = 63;

    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    QIcon hIcon;
    QString szTip;
    QString szInfo;
    std::uint32_t uTimeout = 0;
    QString szInfoTitle;
    std::uint32_t dwInfoFlags = 0;
};

// Cuts text to at most `capacity` characters without splitting a surrogate
// pair, so the shell never gets half a character.
QString FitTrayText(const QString& text, qsizetype capacity);

// The notification area as the tray component sees it.
class TrayShell {
public:
    // Receives (uMsg, wParam, lParam) the way a window procedure would.
    using Receiver = std::function<void(std::uint32_t, std::uint32_t, std::uint32_t)>;

    virtual ~TrayShell() = default;

    // Returns whether the shell accepted the request.
    virtual bool NotifyIcon(NotifyIconMessage message, const NotifyIconData& data) = 0;

    // Installs (or, with an empty receiver, removes) the procedure that gets
    // the shell's callback messages; returns the one that was in place.
    virtual Receiver SetReceiver(Receiver receiver) = 0;

    // False when the desktop has no notification area to put an icon in.
    virtual bool IsSystemTrayAvailable() const = 0;

    // The menu the icon offers, as Linux trays expect one; not owned, so
    // its owner takes it off (null) before it goes.
    virtual void SetMenu(QMenu* /*menu*/) {}

    // Called when the notification area goes away, or, after that, comes
    // back (with the icon in it again). An empty handler stops the calls.
    using AvailabilityHandler = std::function<void(bool available)>;
    virtual void SetAvailabilityHandler(AvailabilityHandler handler) = 0;
};

}  // namespace camwarden
