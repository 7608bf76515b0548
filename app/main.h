// Program entry and the main window.
#pragma once

#include <QMainWindow>

namespace clavora {

class TAppForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TAppForm(QWidget* parent = nullptr);
};

// Runs the program: start-up, the main window and the event loop. Returns the exit code.
int RunProgram(int argc, char** argv);

} // namespace clavora
