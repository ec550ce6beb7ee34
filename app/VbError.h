#pragma once

#include <QString>
#include <stdexcept>

namespace camwarden {

// A run-time error as the error report shows it: a number and a description.
struct VbError : std::runtime_error {
    int number;
    QString description;

    VbError(int num, const QString& desc)
        : std::runtime_error(desc.toStdString()), number(num), description(desc) {}

    static VbError InvalidArgument() {
        return {5, QStringLiteral("Invalid procedure call or argument")};
    }
    static VbError Overflow() { return {6, QStringLiteral("Overflow")}; }
    static VbError TypeMismatch() { return {13, QStringLiteral("Type mismatch")}; }
    static VbError IndexOutOfBounds() { return {35600, QStringLiteral("Index out of bounds")}; }
};

}  // namespace camwarden
