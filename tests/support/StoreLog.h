#pragma once

#include <QMessageLogContext>
#include <QStringList>
#include <mutex>

namespace camwarden::testing {

// What the clip store logs while one test runs, from any of its threads
// (the record writes on its own). Installed for the object's life.
class StoreLog {
public:
    StoreLog() {
        Clear();
        before_ = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext& context, const QString& text) {
                if (QLatin1String(context.category) != QLatin1String("camwarden.gst")) return;
                std::lock_guard lock(Shared().m);
                Shared().lines << text;
            });
    }
    ~StoreLog() { qInstallMessageHandler(before_); }
    StoreLog(const StoreLog&) = delete;
    StoreLog& operator=(const StoreLog&) = delete;

    // The lines holding `text`, every line for none.
    static QStringList Lines(const QString& text = QString()) {
        std::lock_guard lock(Shared().m);
        return Shared().lines.filter(text);
    }
    static void Clear() {
        std::lock_guard lock(Shared().m);
        Shared().lines.clear();
    }

private:
    // A message handler is a plain function: what it writes to is the process's.
    struct Lines_ {
        std::mutex m;
        QStringList lines;
    };
    static Lines_& Shared() {
        static Lines_ shared;
        return shared;
    }
    QtMessageHandler before_ = nullptr;
};

}  // namespace camwarden::testing
