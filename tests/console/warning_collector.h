// Collects the Qt warnings issued while it lives.
#pragma once

#include <QStringList>
#include <QtGlobal>

class WarningCollector {
 public:
  WarningCollector() : m_previous(qInstallMessageHandler(&Collect)) { s_messages.clear(); }
  ~WarningCollector() { qInstallMessageHandler(m_previous); }
  WarningCollector(const WarningCollector&) = delete;
  WarningCollector& operator=(const WarningCollector&) = delete;

  const QStringList& Messages() const { return s_messages; }

 private:
  static void Collect(QtMsgType, const QMessageLogContext&, const QString& text) {
    s_messages << text;
  }
  static inline QStringList s_messages;
  QtMessageHandler m_previous;
};
