#include "QPrintJobMonitor.h"

QPrintJobMonitor::QPrintJobMonitor(QWidget* parent) : QMainWindow(parent) {}

QPrintJobMonitor::~QPrintJobMonitor() = default;

void QPrintJobMonitor::StartMonitor()
{
    m_nThreadResult = 0;
}

void QPrintJobMonitor::StopMonitor()
{
    m_bRunning = false;
    m_nThreadResult = -1;
}
