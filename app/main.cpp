#include "EventLog.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QDialog>

int main(int argc, char* argv[])
{
    QApplication* app = new QApplication(argc, argv);
    // The client lives on in the tray when its window is hidden or closed.
    app->setQuitOnLastWindowClosed(false);

    activateExistentProcess();
    if (!checkOnly()) {
        delete app;
        return 0;
    }

    QDialog* window = new QDialog;
    window->setWindowTitle(QString::fromUtf8("didez"));
    window->show();
    int result = app->exec();
    delete window;
    delete app;
    return result;
}
