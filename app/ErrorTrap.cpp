#include "app/ErrorTrap.h"

#include "app/Logging.h"

namespace camwarden {

QString ErrorReportText(const QString& description, const QString& reportedName, int line) {
    return description + QStringLiteral("\r\n") + QStringLiteral("in Vidwarden2021/08/31.") +
           reportedName + QLatin1Char(' ') + QStringLiteral("at line ") + QString::number(line) +
           QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") +
           QLatin1String(kSupportEmail);
}

void ErrorTrap::Report(int line) noexcept {
    try {
        QString description;
        try {
            throw;
        } catch (const VbError& e) {
            description = e.description;
        } catch (const std::exception& e) {
            description = QString::fromLocal8Bit(e.what());
        } catch (...) {
            description = QStringLiteral("Application-defined or object-defined error");
        }
        qCWarning(lcApp).noquote() << name_ << "line" << line << description;
        dialogs_.MsgBox(ErrorReportText(description, name_, line), MsgIcon::Exclamation,
                        QStringLiteral("Application Error"));
    } catch (...) {
        // The report itself failed; resuming matters more than telling.
    }
}

}  // namespace camwarden

namespace camwarden {

void LogUntrapped(const char* handler) noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        qCWarning(lcApp) << handler << "failed:" << e.what();
    } catch (...) {
        qCWarning(lcApp) << handler << "failed";
    }
}

}  // namespace camwarden
