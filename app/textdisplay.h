// The matrix display of the main window together with the text last loaded into it.
#pragma once

#include <QString>

namespace clavora {

class LedMatrixDisplay;

// Owned by the main window; the display control itself belongs to its strip. GUI thread only.
class TextDisplay {
public:
    explicit TextDisplay(LedMatrixDisplay* control) : m_control(control) {}

    // Clears every cell and loads Text from the top-left corner, not inverted.
    void showText(const QString& text);
    const QString& text() const { return m_text; }
    LedMatrixDisplay* control() const { return m_control; }

private:
    LedMatrixDisplay* m_control;
    QString m_text;
};

// What the display shows when nothing else is to be said.
inline const QString PressAnyKey = QStringLiteral("Press any key");

} // namespace clavora
