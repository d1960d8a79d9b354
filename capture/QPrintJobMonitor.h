#pragma once

#include <QMainWindow>

class OrixUser;

// Watches the user's spool folder of the PDF printer while the session is
// online and hands each finished job to the print settings dialog. The main
// window owns one monitor for the life of the program: it sets the running
// flag and the session, then calls StartMonitor when going online, and calls
// StopMonitor when going offline.
//
// For now only the start/stop protocol exists; the worker thread, the
// progress dialog and the job handling hook in at StartMonitor/StopMonitor.
class QPrintJobMonitor : public QMainWindow
{
    Q_OBJECT

public:
    explicit QPrintJobMonitor(QWidget* parent = nullptr);
    ~QPrintJobMonitor() override;

    // Starts watching. The caller has set the running flag and the session.
    void StartMonitor();
    // Stops watching: clears the running flag.
    void StopMonitor();

    bool isRunning() const { return m_bRunning; }
    void setRunning(bool running) { m_bRunning = running; }
    OrixUser* user() const { return m_pUser; }
    void setUser(OrixUser* user) { m_pUser = user; }

private:
    int m_nThreadResult = -1;
    bool m_bRunning = false;
    OrixUser* m_pUser = nullptr;
};
