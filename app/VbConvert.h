#pragma once

#include <QString>
#include <cstdint>

namespace camwarden {

// Stored numbers are read the way the settings were always read: blanks
// around the text ignored, the user's number format first, fractions
// rounded half to even. Non-numbers throw "Type mismatch", values out of
// range "Overflow".
int16_t CInt(const QString& text);
int32_t CLng(const QString& text);

// 16-bit multiplication that overflows as the stored custom length did.
int16_t MulInt16(int16_t a, int16_t b);

}  // namespace camwarden
