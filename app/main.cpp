#include "OnlineDlg.h"
#include "SingleInstance.h"

#include <QApplication>

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

    OnlineDlg* window = new OnlineDlg;
    window->show();
    int result = app->exec();
    delete window;
    delete app;
    return result;
}
