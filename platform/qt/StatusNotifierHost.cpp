#include "platform/qt/StatusNotifierHost.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include "platform/qt/Notifications.h"

namespace camwarden {
namespace {
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
// A tray that does not answer at start-up is taken as absent; the signals
// below still bring the icon once it does.
constexpr int kStartupAnswerMs = 500;

QDBusMessage HostedQuestion() {
    QDBusMessage m = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    m << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    return m;
}
}  // namespace

std::unique_ptr<StatusNotifierTrays> SessionStatusNotifierTrays() {
    return std::make_unique<StatusNotifierHost>(QDBusConnection::sessionBus());
}

StatusNotifierHost::StatusNotifierHost(QDBusConnection bus, QObject* parent)
    : StatusNotifierTrays(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected()) return;
    auto* services =
        new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(services, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& before, const QString& owner) {
                if (!owner.isEmpty()) {
                    AskWhetherHosted(owner);
                } else if (!before.isEmpty()) {
                    Q_EMIT Vanished();
                }
            });
    bus_.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostRegistered"),
                 this, SLOT(OnHostRegistered(QDBusMessage)));
    bus_.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostUnregistered"),
                 this, SLOT(OnHostUnregistered()));
}

bool StatusNotifierHost::PresentNow() const {
    if (!bus_.isConnected() || !bus_.interface()->isServiceRegistered(kWatcher)) return false;
    const QDBusMessage reply = bus_.call(HostedQuestion(), QDBus::Block, kStartupAnswerMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

std::unique_ptr<TrayBalloons> StatusNotifierHost::MakeBalloons() {
    return std::make_unique<Notifications>(bus_);
}

void StatusNotifierHost::AskWhetherHosted(const QString& watcher) {
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(HostedQuestion()), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, watcher](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *w;
                // A watcher without a host yet says so by signal once one registers.
                if (!reply.isError() && reply.value().variant().toBool()) Q_EMIT Appeared(watcher);
            });
}

void StatusNotifierHost::OnHostRegistered(const QDBusMessage& signal) {
    Q_EMIT Appeared(signal.service());
}

void StatusNotifierHost::OnHostUnregistered() {
    // Another host may still be there.
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(HostedQuestion()), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError() || !reply.value().variant().toBool()) Q_EMIT Vanished();
    });
}

}  // namespace camwarden
