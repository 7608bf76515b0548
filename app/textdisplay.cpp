// The main window's display and its text.
#include "app/textdisplay.h"

#include "display/untLumoMatrix.h"

namespace clavora {

void TextDisplay::showText(const QString& text) {
    m_text = text;
    ShowDisplayText(m_control, m_text);
}

} // namespace clavora
