// A message service that records each message instead of showing a modal
// box: its text, whether it belonged to the application or a window, and
// whether the watched window was on screen at that moment, and whether the
// window's port was still open.
#pragma once

#include <QString>

#include <vector>

#include "dialog/MessageService.h"

class CRecordingMessageService : public CMessageService {
 public:
  struct Shown {
    QString text;
    bool application;    // no owning window
    bool windowVisible;  // the watched window was visible
    bool onGuiThread;
    bool portOpen;  // PortHandle held a port while the box was up
    QString detail;  // the informative text under the main one
    bool question = false;  // asked with "是" / "否"
    bool information = false;  // a success, in a box of its own kind
  };

  CRecordingMessageService();  // installs itself
  ~CRecordingMessageService() override;
  CRecordingMessageService(const CRecordingMessageService&) = delete;
  CRecordingMessageService& operator=(const CRecordingMessageService&) = delete;

  void Watch(const QWidget* window) { m_window = window; }
  void Show(QWidget* owner, const QString& text) override { ShowDetailed(owner, text, {}); }
  void ShowDetailed(QWidget* owner, const QString& text, const QString& detail) override;
  void ShowInformation(QWidget* owner, const QString& text) override;
  // Recorded like a message; answered with `answer`.
  bool Ask(QWidget* owner, const QString& text) override;

  std::vector<Shown> shown;
  bool answer = true;  // "是"

 private:
  const QWidget* m_window = nullptr;
  CMessageService* m_previous;
};
