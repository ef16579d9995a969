#include "alarms/Annunciator.h"

#include <QApplication>
#include <QWidget>

CAnnunciator::CAnnunciator(QWidget* window) : QObject(window), m_pWindow(window) {
  connect(&m_notifier, &CDesktopNotifier::Acknowledged, this, &CAnnunciator::Acknowledged);
}

void CAnnunciator::Announce(const QString& summary, const QString& body, bool critical) {
  // Until the window is active; an active window is already seen.
  ++m_nAlerts;
  QApplication::alert(m_pWindow);
  m_notifier.Show(summary, body, critical, false);
}

void CAnnunciator::Update(const QString& summary, const QString& body, bool critical) {
  m_notifier.Show(summary, body, critical, true);
}

void CAnnunciator::Withdraw() { m_notifier.Close(); }
