// A standard modal message box with the caller's button captions.
#include "app/messagebox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>

namespace clavora {

namespace {

std::function<QMessageBox::StandardButton(QMessageBox&)>& Answer() {
    static std::function<QMessageBox::StandardButton(QMessageBox&)> answer;
    return answer;
}

} // namespace

QMessageBox::StandardButton messageBoxWithCaptions(const QString& message, QMessageBox::Icon icon,
                                                   QMessageBox::StandardButtons buttons, const QString& caption,
                                                   const QStringList& buttonCaptions) {
    QMessageBox box(icon, caption, QString(), QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText); // messages carry file names and the user's own text
    box.setText(message);
    // Added one by one so that the order of the buttons, which the captions follow, is known.
    static const QMessageBox::StandardButton order[] = {QMessageBox::Yes,    QMessageBox::No,    QMessageBox::Ok,
                                                        QMessageBox::Cancel, QMessageBox::Abort, QMessageBox::Retry,
                                                        QMessageBox::Ignore};
    int n = 0;
    for (QMessageBox::StandardButton kind : order) {
        if (!(buttons & kind)) {
            continue;
        }
        QPushButton* button = box.addButton(kind);
        if (n < buttonCaptions.size()) {
            button->setText(buttonCaptions.at(n));
        }
        ++n;
    }
    if (buttons & QMessageBox::Yes) {
        box.setDefaultButton(QMessageBox::Yes);
    }
    if (buttons & QMessageBox::No) {
        box.setEscapeButton(QMessageBox::No);
    }
    if (Answer()) {
        return Answer()(box);
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    return clicked ? box.standardButton(clicked) : QMessageBox::NoButton;
}

void showMessage(const QString& message) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), QString(), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setText(message);
    if (Answer()) {
        Answer()(box);
        return;
    }
    box.exec();
}

void setMessageBoxAnswer(std::function<QMessageBox::StandardButton(QMessageBox&)> answer) {
    Answer() = std::move(answer);
}

} // namespace clavora
