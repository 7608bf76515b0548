// Program entry and the main window.
#pragma once

#include <QMainWindow>
#include <QStringList>

class QTimer;
class QWidget;

namespace clavora {

class TAppForm : public QMainWindow {
    Q_OBJECT
public:
    // Arguments: the program's command line without the program name.
    explicit TAppForm(const QStringList& arguments, QWidget* parent = nullptr);
    ~TAppForm() override;

    QWidget* Panel1 = nullptr;
    QTimer* TimerParam = nullptr;
    QTimer* TimerHotkey = nullptr;

private:
    void FormCreate();
    void TimerParamTimer();

    QStringList FArguments;
};

// True when the first command-line argument asks for the minimized start ("/auto", any letter case).
bool IsAutoStartArgument(const QStringList& arguments);

// Runs the program: start-up, the main window and the event loop. Returns the exit code.
int RunProgram(int argc, char** argv);

} // namespace clavora
