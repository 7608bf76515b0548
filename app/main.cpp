// Program entry and the main window.
#include "app/main.h"

#include <QApplication>

namespace clavora {

TAppForm::TAppForm(QWidget* parent) : QMainWindow(parent) {}

int RunProgram(int argc, char** argv) {
    QApplication app(argc, argv);
    TAppForm form;
    form.show();
    return app.exec();
}

} // namespace clavora
