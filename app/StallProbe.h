#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// Measures how late the event loop of the GUI thread serves a 10 ms timer:
// a tick's lateness is what a stall costs the window (repaints, the tray
// menu). For the responsiveness benchmark, off unless the environment
// variable ORIX_STALL_PROBE names a file. Every second the probe appends one
// line per tick to it, "<wall clock in ms since 1970> <lateness in ms>", so
// that the benchmark can cut the run into its phases.
class StallProbe : public QObject
{
public:
    static constexpr int kIntervalMs = 10;

    explicit StallProbe(const QString& reportPath, QObject* parent = nullptr);
    ~StallProbe() override;

    // Starts a probe owned by parent when ORIX_STALL_PROBE is set.
    static void startFromEnvironment(QObject* parent);

private:
    void tick();
    void flush();

    QString m_reportPath;
    QTimer m_timer;
    QTimer m_flushTimer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    QByteArray m_pending;
};
