#include "tray/cSysTray.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>

#include "app/VbError.h"

namespace camwarden {

Picture Picture::FromIcon(const QIcon& icon) {
    Picture p;
    p.type = icon.isNull() ? Type::None : Type::Icon;
    p.icon = icon;
    return p;
}

Picture Picture::FromBitmap(const QPixmap& bitmap) {
    Picture p;
    p.type = bitmap.isNull() ? Type::None : Type::Bitmap;
    p.bitmap = bitmap;
    return p;
}

bool Picture::IsEmpty() const {
    switch (type) {
        case Type::Icon:
            return icon.isNull();
        case Type::Bitmap:
            return bitmap.isNull();
        case Type::Metafile:
            return false;
        case Type::None:
            break;
    }
    return true;
}

void EventLoopBalloonWait::Wait(std::chrono::milliseconds limit) {
    if (limit.count() <= 0) return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(limit);
    running_.push_back(&loop);
    loop.exec();
    running_.erase(std::remove(running_.begin(), running_.end(), &loop), running_.end());
}

void EventLoopBalloonWait::Stop() {
    for (QEventLoop* loop : running_) loop->quit();
}

cSysTray::cSysTray(TrayShell& shell, QObject* parent)
    : cSysTray(shell, std::make_unique<EventLoopBalloonWait>(), parent) {}

cSysTray::cSysTray(TrayShell& shell, std::unique_ptr<BalloonWait> wait, QObject* parent)
    : QObject(parent), shell_(shell), wait_(std::move(wait)) {
    if (!wait_) wait_ = std::make_unique<EventLoopBalloonWait>();
}

cSysTray::~cSysTray() {
    if (inTray_) SetInTray(false);
    // Never leave the shell calling into a destroyed component.
    if (iconAdded_) shell_.SetReceiver(std::move(prevWindowProc_));
    wait_->Stop();
}

void cSysTray::SetInTray(bool value) {
    if (value == inTray_) return;
    if (value) {
        AddIcon();
    } else if (iconAdded_) {
        RemoveIcon();
    }
    inTray_ = value;
}

void cSysTray::AddIcon() {
    prevWindowProc_ =
        shell_.SetReceiver([this](std::uint32_t uMsg, std::uint32_t wParam, std::uint32_t lParam) {
            TrayWindowProc(uMsg, wParam, lParam);
        });
    NotifyIconData record = NewRecord();
    record.uFlags = Nif::Message;
    record.uCallbackMessage = TrayCallbackMessage;
    if (trayIcon_.type == Picture::Type::Icon) {
        record.uFlags |= Nif::Icon;
        record.hIcon = trayIcon_.icon;
    }
    if (!trayTip_.isEmpty()) {
        record.uFlags |= Nif::Tip;
        record.szTip = FitTrayText(trayTip_, NotifyIconData::TipCapacity);
    }
    // A refused add is not noticed: later changes then fail silently.
    shell_.NotifyIcon(NotifyIconMessage::Add, record);
    iconAdded_ = true;
}

void cSysTray::RemoveIcon() {
    shell_.NotifyIcon(NotifyIconMessage::Delete, NewRecord());
    shell_.SetReceiver(std::move(prevWindowProc_));
    prevWindowProc_ = {};
    iconAdded_ = false;
}

void cSysTray::SetTrayIcon(const Picture& value) {
    if (value.IsEmpty() || value.type != Picture::Type::Icon) return;
    if (iconAdded_) {
        NotifyIconData record = NewRecord();
        record.uFlags = Nif::Icon;
        record.hIcon = value.icon;
        shell_.NotifyIcon(NotifyIconMessage::Modify, record);
    }
    trayIcon_ = value;
    ownPicture_ = value;
}

void cSysTray::SetTrayTip(const QString& value) {
    if (iconAdded_) {
        NotifyIconData record = NewRecord();
        record.uFlags = Nif::Tip;
        record.szTip = FitTrayText(value, NotifyIconData::TipCapacity);
        shell_.NotifyIcon(NotifyIconMessage::Modify, record);
    }
    trayTip_ = value;
}

void cSysTray::ShowBalloon(const QString& Tip, const QString& sTitle, std::int32_t ShowTimer,
                           bool ShowOnce) {
    if (ShowOnce && balloonOnceCount_ >= 1) return;
    if (ShowTimer > MaxShowTimer) throw VbError::Overflow();

    NotifyIconData record = NewRecord();
    record.uFlags = Nif::Info;
    record.szInfoTitle = FitTrayText(sTitle, NotifyIconData::InfoTitleCapacity);
    record.szInfo = FitTrayText(Tip, NotifyIconData::InfoCapacity);
    record.uTimeout = ShowTimer > 0 ? static_cast<std::uint32_t>(ShowTimer) * 1000U : 0U;
    shell_.NotifyIcon(NotifyIconMessage::Modify, record);

    balloonShowing_ = true;
    if (ShowOnce) ++balloonOnceCount_;

    // Without a time the balloon is left to the shell.
    if (ShowTimer <= 0 || !balloonShowing_) return;
    wait_->Wait(std::chrono::milliseconds(record.uTimeout));
    if (balloonShowing_) {
        // Neither clicked, closed nor timed out by the shell: take it down.
        record.szInfoTitle.clear();
        record.szInfo.clear();
        shell_.NotifyIcon(NotifyIconMessage::Modify, record);
    }
}

void cSysTray::InitConfiguration() {
    SetInTray(false);
    SetTrayIcon(ownPicture_);
    SetTrayTip(QStringLiteral("Telnet Server"));
}

void cSysTray::LoadConfiguration(const TrayConfiguration& stored) {
    SetInTray(stored.InTray.value_or(false));
    SetTrayIcon(stored.TrayIcon.value_or(ownPicture_));
    SetTrayTip(stored.TrayTip.value_or(QStringLiteral("Telnet Server")));
}

TrayConfiguration cSysTray::SaveConfiguration() const {
    return TrayConfiguration{inTray_, trayIcon_, trayTip_};
}

void cSysTray::TrayWindowProc(std::uint32_t uMsg, std::uint32_t wParam, std::uint32_t lParam) {
    // Copy first: a handler may take the icon out and so replace the receiver.
    const TrayShell::Receiver previous = prevWindowProc_;
    if (uMsg == TrayCallbackMessage) Dispatch(lParam, wParam);
    if (previous) previous(uMsg, wParam, lParam);
}

void cSysTray::Dispatch(std::uint32_t lParam, std::uint32_t wParam) {
    const int Id = static_cast<int>(wParam);
    switch (lParam) {
        case TrayNotification::MouseMove:
            Q_EMIT MouseMove(Id);
            break;
        case TrayNotification::LeftButtonDown:
            Q_EMIT MouseDown(1, Id);
            break;
        case TrayNotification::LeftButtonUp:
            Q_EMIT MouseUp(1, Id);
            break;
        case TrayNotification::LeftButtonDblClk:
            Q_EMIT MouseDblClick(1, Id);
            break;
        case TrayNotification::RightButtonDown:
            Q_EMIT MouseDown(2, Id);
            break;
        case TrayNotification::RightButtonUp:
            Q_EMIT MouseUp(2, Id);
            break;
        case TrayNotification::RightButtonDblClk:
            Q_EMIT MouseDblClick(2, Id);
            break;
        case TrayNotification::BalloonHide:
        case TrayNotification::BalloonTimeout:
        case TrayNotification::BalloonUserClick:
            balloonShowing_ = false;
            wait_->Stop();
            break;
        default:
            break;
    }
}

NotifyIconData cSysTray::NewRecord() const {
    NotifyIconData record;
    record.uID = id_;
    return record;
}

}  // namespace camwarden
