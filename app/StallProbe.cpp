#include "StallProbe.h"

#include <QDateTime>
#include <QFile>

StallProbe::StallProbe(const QString& reportPath, QObject* parent)
    : QObject(parent), m_reportPath(reportPath)
{
    QFile::remove(m_reportPath);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &StallProbe::tick);
    m_timer.start(kIntervalMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &StallProbe::flush);
    m_flushTimer.start(1000);
    m_clock.start();
}

StallProbe::~StallProbe()
{
    flush();
}

void StallProbe::startFromEnvironment(QObject* parent)
{
    const QString path = qEnvironmentVariable("ORIX_STALL_PROBE");
    if (!path.isEmpty())
        new StallProbe(path, parent);
}

void StallProbe::tick()
{
    const qint64 now = m_clock.elapsed();
    if (m_last >= 0) {
        const qint64 late = qMax<qint64>(0, now - m_last - kIntervalMs);
        m_pending += QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + ' ' +
                     QByteArray::number(late) + '\n';
    }
    m_last = now;
}

void StallProbe::flush()
{
    if (m_pending.isEmpty())
        return;
    QFile file(m_reportPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(m_pending);
    m_pending.clear();
}
