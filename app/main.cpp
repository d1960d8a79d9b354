#include "AccessiblePassword.h"
#include "AppIcons.h"
#include "DisplayChoice.h"
#include "EventLog.h"
#include "OnlineDlg.h"
#include "PortalPage.h"
#include "QtTranslations.h"
#include "ReadinessCheck.h"
#include "SingleInstance.h"
#include "StallProbe.h"
#include "StartupWarmup.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QTranslator>

#include <cstdio>

namespace
{

// Takes "--debug" out of the arguments (the first argument keeps its
// meaning); true when it was there.
bool takeDebugFlag(int& argc, char** argv)
{
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--debug") == 0)
            found = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    return found;
}

} // namespace

int main(int argc, char* argv[])
{
    // "--debug": every event into the log for this run, the INI untouched.
    if (takeDebugFlag(argc, argv))
        SetEventLogRunLevel(kLogTrace);
    // "--version": for packaging tools and support staff.
    if (argc == 2 && qstrcmp(argv[1], "--version") == 0) {
        std::printf("OrixClientAPP %s\n", ORIX_VERSION);
        return 0;
    }
    // "--check": the readiness check for support staff; no window, no logon.
    if (argc == 2 && qstrcmp(argv[1], "--check") == 0) {
        QCoreApplication app(argc, argv);
        return RunReadinessCheck();
    }
    // The client draws nothing with OpenGL: without the GL integration of
    // the X11 platform it does not load the GL stack (tens of megabytes) and
    // starts faster. A choice of the user's own wins; programs started from
    // here (the web browser) do not inherit ours.
    const bool glChosen = qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION");
    if (!glChosen)
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // Under Wayland the client runs on XWayland where there is one (see
    // DisplayChoice.h); again only for the client itself.
    const bool x11Chosen = DisplayChoice::x11UnderWayland(argc, argv);
    if (x11Chosen)
        qputenv("QT_QPA_PLATFORM", "xcb");
    // Beside the application object's start. The environment changes only
    // while the helper does not run: it reads it.
    StartupWarmup warmup;
    // Sharp on scaled screens: layouts in device-independent pixels, icons
    // from the size that fits the screen's pixels.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication* app = new QApplication(argc, argv);
    QApplication::setWindowIcon(AppIcons::application());
    AccessiblePassword::install();
    QGuiApplication::setDesktopFileName(QStringLiteral("orixclient"));
    if (!glChosen) {
        // The platform settles its GL integration when first asked (here);
        // the variable goes once the helper is done.
        QOpenGLContext::supportsThreadedOpenGL();
        warmup.wait();
        qunsetenv("QT_XCB_GL_INTEGRATION");
    }
    if (x11Chosen) {
        warmup.wait();
        qunsetenv("QT_QPA_PLATFORM");
    }
    // Qt's own texts (standard buttons, file dialogs) in the user's language, else Chinese.
    std::unique_ptr<QTranslator> qtTexts = QtTranslations::load();
    if (qtTexts)
        app->installTranslator(qtTexts.get());
    // The client lives on in the tray when its window is hidden or closed.
    app->setQuitOnLastWindowClosed(false);

    activateExistentProcess();
    if (!checkOnly()) {
        delete app;
        return 0;
    }
    // No other client of this user runs: a portal page (it holds the
    // password digest) still there was left by a run that ended early.
    PortalPage::RemoveLeftovers();

    StallProbe::startFromEnvironment(app);
    OnlineDlg* window = new OnlineDlg;
    window->show();
    int result = app->exec();
    delete window;
    delete app;
    return result;
}
