// Keeps the stored download address from being read or edited at a glance. It is no protection: only this program
// reads the text back, and the constants are its own.
#pragma once

#include <QString>

namespace clavora::online {

// The UTF-8 bytes of Text, each XORed with the high byte of a 16-bit running key that is advanced with every
// scrambled byte, written as upper-case hexadecimal pairs. Empty for empty text.
QString scrambleText(const QString& text);

// The reverse of scrambleText. Letter case does not matter, an odd last digit is ignored, and any pair that is not
// hexadecimal makes the result empty.
QString unscrambleText(const QString& scrambled);

} // namespace clavora::online
