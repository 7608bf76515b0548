// The main window's display and its text.
#include "app/textdisplay.h"

#include "display/ledmatrixdisplay.h"

namespace clavora {

void TextDisplay::showText(const QString& text) {
    m_text = text;
    showDisplayText(m_control, m_text);
}

} // namespace clavora
