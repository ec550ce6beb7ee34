#include "platform/qt/Notifications.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace camwarden {
namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// Reasons the daemon gives in NotificationClosed.
constexpr std::uint32_t kExpired = 1;
constexpr std::uint32_t kDismissed = 2;
}  // namespace

Notifications::Notifications(QDBusConnection bus, QObject* parent)
    : TrayBalloons(parent), bus_(std::move(bus)) {
    bus_.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                 SLOT(OnClosed(uint, uint)));
    bus_.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnAction(uint, QString)));
}

void Notifications::Show(const QString& title, const QString& text, int timeoutMs) {
    QDBusMessage m =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    // "default" is the action a click on the notification invokes.
    m << QStringLiteral("Camwarden") << id_ << QString() << title << text
      << QStringList{QStringLiteral("default"), QString()} << QVariantMap() << timeoutMs;
    const std::uint64_t request = ++sent_;
    closeOnArrival_ = false;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(m), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<std::uint32_t> reply = *w;
                if (reply.isError() || request != sent_) return;
                id_ = reply.value();
                if (closeOnArrival_) Close();
            });
}

void Notifications::Close() {
    if (id_ == 0) {
        // Still on its way: closed as soon as the daemon names it.
        closeOnArrival_ = sent_ > 0;
        return;
    }
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                    QStringLiteral("CloseNotification"));
    m << id_;
    bus_.asyncCall(m);
    id_ = 0;
    closeOnArrival_ = false;
}

void Notifications::OnClosed(uint id, uint reason) {
    if (id == 0 || id != id_) return;
    id_ = 0;
    if (reason == kExpired) Q_EMIT TimedOut();
    if (reason == kDismissed) Q_EMIT Dismissed();
}

void Notifications::OnAction(uint id, const QString& key) {
    if (id != 0 && id == id_ && key == QLatin1String("default")) Q_EMIT Clicked();
}

}  // namespace camwarden
