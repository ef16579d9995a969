#include "dialog/MessageService.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "app/AppInfo.h"
#include "dialog/ReplyGate.h"

namespace {

// The real boxes: the application's name as caption, no icon, OK only.
class CMessageBoxService : public CMessageService {
 public:
  void Show(QWidget* owner, const QString& text) override { ShowDetailed(owner, text, {}); }
  void ShowDetailed(QWidget* owner, const QString& text, const QString& detail) override {
    // An application message still stays above a modal window that is up.
    QWidget* parent = owner ? owner : QApplication::activeModalWidget();
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationName), text,
                    QMessageBox::Ok, parent);
    box.setInformativeText(detail);
    box.exec();
  }
  bool Ask(QWidget* owner, const QString& text) override {
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kApplicationName), text,
                    QMessageBox::NoButton, owner);
    QPushButton* yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
  }
};

CMessageBoxService g_defaultService;
CMessageService* g_service = nullptr;

CMessageService& Service() { return g_service ? *g_service : g_defaultService; }

// The questions of workers to the GUI thread that belong to no window.
// Made on the GUI thread as the application starts, and kept for the run,
// so that everything of it a worker's question passes through was made
// before any worker asked.
CReplyGate* g_guiGate = nullptr;

void MakeGuiGate() {
  if (!g_guiGate) g_guiGate = new CReplyGate;
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(MakeGuiGate)

bool CMessageService::Ask(QWidget*, const QString&) { return false; }

CMessageService* InstallMessageService(CMessageService* service) {
  CMessageService* previous = g_service;
  g_service = service;
  return previous;
}

void ShowMessage(QWidget* owner, const QString& text, const QString& detail) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app && g_guiGate && QThread::currentThread() != app->thread()) {
    // Widgets live on the GUI thread only; the worker waits on its side for
    // the box to be dismissed there, as a blocking box would make it wait.
    g_guiGate->Ask<bool>([owner, text, detail] {
      Service().ShowDetailed(owner, text, detail);
      return true;
    });
    return;
  }
  Service().ShowDetailed(owner, text, detail);
}

bool AskQuestion(QWidget* owner, const QString& text) { return Service().Ask(owner, text); }

void AppMessage(const QString& text, const QString& detail) { ShowMessage(nullptr, text, detail); }
