#pragma once

#include <QString>

/// A number as the program lists it: shortest decimal form, a point as decimal separator, no
/// thousands separator, no zero before the point of a fraction below 1, and a leading blank for
/// zero and positive values (1 gives " 1", -113 gives "-113", 0.25 gives " .25").
QString NumberText(double value);

/// The number @p text begins with: an optional sign, digits, an optional fraction and exponent.
/// Blanks, TABs and LFs are skipped wherever they stand; text that does not begin with a number
/// gives 0 ("+0,\"No error\"" gives 0, "-113,\"Undefined header\"" gives -113).
double LeadingNumber(const QString &text);
