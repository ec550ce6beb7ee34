#pragma once

#include "app/Dialogs.h"
#include "app/VbError.h"

#include <QString>
#include <exception>
#include <utility>

namespace camwarden {

inline constexpr char kSupportEmail[] = "support@quillory.example";

QString ErrorReportText(const QString& description, const QString& reportedName, int line);

// The error trap of an event handler: each numbered statement runs through
// it; a failure is reported and the handler resumes with the next statement.
// Nothing thrown ever leaves a handler into the event loop.
class ErrorTrap {
public:
    ErrorTrap(Dialogs& dialogs, QString reportedName)
        : dialogs_(dialogs), name_(std::move(reportedName)) {}

    template <typename F>
    void operator()(int line, F&& statement) noexcept {
        try {
            std::forward<F>(statement)();
        } catch (...) {
            Report(line);
        }
    }

    // A condition that fails counts as true: execution goes on in its
    // "true" branch, as it always did.
    template <typename F>
    bool If(int line, F&& condition) noexcept {
        try {
            return std::forward<F>(condition)();
        } catch (...) {
            Report(line);
            return true;
        }
    }

private:
    void Report(int line) noexcept;

    Dialogs& dialogs_;
    QString name_;
};

}  // namespace camwarden

namespace camwarden {

// Handlers without a trap of their own still must not let an error reach
// the event loop: it is logged and the handler ends.
void LogUntrapped(const char* handler) noexcept;

template <typename F>
void Untrapped(const char* handler, F&& body) noexcept {
    try {
        std::forward<F>(body)();
    } catch (...) {
        LogUntrapped(handler);
    }
}

}  // namespace camwarden
