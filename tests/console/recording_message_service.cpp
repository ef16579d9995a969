#include "recording_message_service.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

#include "serial_port.h"

CRecordingMessageService::CRecordingMessageService() : m_previous(InstallMessageService(this)) {}

CRecordingMessageService::~CRecordingMessageService() { InstallMessageService(m_previous); }

void CRecordingMessageService::ShowDetailed(QWidget* owner, const QString& text,
                                            const QString& detail) {
  shown.push_back({text, owner == nullptr, m_window && m_window->isVisible(),
                   QThread::currentThread() == QCoreApplication::instance()->thread(),
                   PortHandle != nullptr, detail});
}

void CRecordingMessageService::ShowInformation(QWidget* owner, const QString& text) {
  Show(owner, text);
  shown.back().information = true;
}

bool CRecordingMessageService::Ask(QWidget* owner, const QString& text) {
  Show(owner, text);
  shown.back().question = true;
  return answer;
}
