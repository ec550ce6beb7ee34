#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "tray/TrayShell.h"
#include "tray/cSysTray.h"

namespace camwarden::testing {

// A notification area that records every request and lets a test play the
// shell's part: mouse reports, balloon notifications, a missing tray.
class FakeTrayShell final : public TrayShell {
public:
    struct Call {
        NotifyIconMessage message;
        NotifyIconData data;
    };

    std::vector<Call> calls;
    bool trayAvailable = true;
    bool refuseAll = false;
    // When set, answers every balloon (a NIF_INFO request with text) with
    // this notification, posted so it arrives once the caller waits.
    std::optional<std::uint32_t> answerBalloonsWith;
    // Runs after each request is recorded.
    std::function<void(const Call&)> onNotify;

    ~FakeTrayShell() override { *alive_ = false; }

    bool NotifyIcon(NotifyIconMessage message, const NotifyIconData& data) override {
        calls.push_back({message, data});
        const bool accepted = !refuseAll && Apply(message, data);
        if (answerBalloonsWith && message == NotifyIconMessage::Modify &&
            (data.uFlags & Nif::Info) && !(data.szInfo.isEmpty() && data.szInfoTitle.isEmpty())) {
            Post(*answerBalloonsWith);
        }
        if (onNotify) onNotify(calls.back());
        return accepted;
    }

    Receiver SetReceiver(Receiver receiver) override {
        Receiver previous = std::move(receiver_);
        receiver_ = std::move(receiver);
        return previous;
    }

    bool IsSystemTrayAvailable() const override { return trayAvailable; }
    void SetAvailabilityHandler(AvailabilityHandler handler) override {
        availability_ = std::move(handler);
    }
    // The tray goes away or comes back.
    void SetTrayAvailable(bool available) {
        trayAvailable = available;
        if (availability_) availability_(available);
    }
    void SetMenu(QMenu* m) override { menu = m; }
    QMenu* menu = nullptr;

    // What is on screen as far as the shell is concerned.
    bool iconShown() const { return added_; }
    const NotifyIconData& current() const { return current_; }
    bool hasReceiver() const { return static_cast<bool>(receiver_); }

    // Delivers a message to the installed receiver, as a window procedure
    // would get it; by default the callback message the icon was added with.
    void Send(std::uint32_t lParam, std::uint32_t wParam = 0) {
        SendMessage(callbackMessage_, wParam, lParam);
    }
    void SendMessage(std::uint32_t uMsg, std::uint32_t wParam, std::uint32_t lParam) {
        if (!receiver_) return;
        const Receiver receiver = receiver_;
        receiver(uMsg, wParam, lParam);
    }
    // Like Send, from the event loop.
    void Post(std::uint32_t lParam, std::uint32_t wParam = 0) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive = alive_, lParam, wParam] {
                if (*alive) Send(lParam, wParam);
            },
            Qt::QueuedConnection);
    }

    void clear() { calls.clear(); }

private:
    bool Apply(NotifyIconMessage message, const NotifyIconData& data) {
        switch (message) {
            case NotifyIconMessage::Add:
                if (added_) return false;
                added_ = true;
                current_ = data;
                callbackMessage_ = data.uCallbackMessage;
                return true;
            case NotifyIconMessage::Modify:
                if (!added_) return false;
                if (data.uFlags & Nif::Icon) current_.hIcon = data.hIcon;
                if (data.uFlags & Nif::Tip) current_.szTip = data.szTip;
                return true;
            case NotifyIconMessage::Delete:
                if (!added_) return false;
                added_ = false;
                current_ = {};
                return true;
        }
        return false;
    }

    Receiver receiver_;
    AvailabilityHandler availability_;
    bool added_ = false;
    NotifyIconData current_;
    std::uint32_t callbackMessage_ = TrayCallbackMessage;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// A balloon wait that returns at once, after running `during` as if the
// rest of the program ran meanwhile. Records each limit asked for.
class FakeBalloonWait final : public BalloonWait {
public:
    struct Log {
        std::vector<std::chrono::milliseconds> limits;
        int stops = 0;
    };

    explicit FakeBalloonWait(std::shared_ptr<Log> log, std::function<void()> during = {})
        : log_(std::move(log)), during_(std::move(during)) {}

    void Wait(std::chrono::milliseconds limit) override {
        log_->limits.push_back(limit);
        if (during_) during_();
    }
    void Stop() override { ++log_->stops; }

private:
    std::shared_ptr<Log> log_;
    std::function<void()> during_;
};

}  // namespace camwarden::testing
