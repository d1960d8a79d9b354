#include "LogonScheduler.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <memory>

LogonScheduler::LogonScheduler() : LogonScheduler(Policy()) {}

LogonScheduler::LogonScheduler(const Policy& policy, Clock clock, Random random)
    : m_Policy(policy), m_Clock(std::move(clock)), m_Random(std::move(random))
{
    m_Policy.FirstMs = std::max(1, m_Policy.FirstMs);
    m_Policy.LongestMs = std::max(m_Policy.FirstMs, m_Policy.LongestMs);
    m_Policy.Spread = std::clamp(m_Policy.Spread, 0.0, 0.9);
    if (!m_Clock) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        m_Clock = [started] { return started->elapsed(); };
    }
    if (!m_Random)
        m_Random = [] { return QRandomGenerator::global()->generateDouble(); };
}

bool LogonScheduler::begin(Trigger trigger)
{
    if (m_InFlight)
        return false;
    if (trigger == Trigger::Automatic && automaticDelay() > 0)
        return false;
    m_InFlight = true;
    return true;
}

void LogonScheduler::end(bool accepted)
{
    m_InFlight = false;
    if (accepted) {
        m_Failures = 0;
        m_NotBefore = 0;
        return;
    }
    ++m_Failures;
    m_NotBefore = m_Clock() + drawWait();
}

qint64 LogonScheduler::automaticDelay() const
{
    if (m_Failures == 0)
        return 0;
    return std::max<qint64>(0, m_NotBefore - m_Clock());
}

int LogonScheduler::drawWait() const
{
    // The base doubles with every failure after the first, up to the longest.
    qint64 base = m_Policy.FirstMs;
    for (int i = 1; i < m_Failures && base < m_Policy.LongestMs; ++i)
        base *= 2;
    base = std::min<qint64>(base, m_Policy.LongestMs);

    const double low = std::max<double>(m_Policy.FirstMs, base * (1.0 - m_Policy.Spread));
    const double high = std::max(low, base * (1.0 + m_Policy.Spread));
    const double r = std::clamp(m_Random(), 0.0, 1.0);
    return static_cast<int>(std::lround(low + r * (high - low)));
}
