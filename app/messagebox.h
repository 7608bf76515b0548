// A standard modal message box whose buttons carry the caller's captions.
#pragma once

#include <QMessageBox>
#include <QStringList>
#include <functional>

namespace clavora {

// Shows a modal message box of type Icon with Buttons and caption Caption; the n-th push button, in the order
// Yes, No, OK, Cancel..., gets the n-th of ButtonCaptions. Of Yes and No, Yes is the default button (Enter) and No
// the cancel button (Escape). Returns the button pressed.
QMessageBox::StandardButton messageBoxWithCaptions(const QString& message, QMessageBox::Icon icon,
                                                   QMessageBox::StandardButtons buttons, const QString& caption,
                                                   const QStringList& buttonCaptions);

// Shows Message in a plain modal box captioned with the application's title, centred on its owner.
void showMessage(const QString& message);

// Tests see the box instead of a person: Answer gets the box before it is shown and returns the button to press.
// An empty function restores the modal box.
void setMessageBoxAnswer(std::function<QMessageBox::StandardButton(QMessageBox&)> answer);

} // namespace clavora
