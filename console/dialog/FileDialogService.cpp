#include "dialog/FileDialogService.h"

#include <QFileDialog>

namespace {

class CQtFileDialogService : public CFileDialogService {
 public:
  QString SaveFileName(QWidget* owner, const QString& caption, const QString& proposed,
                       const QString& filter) override {
    return QFileDialog::getSaveFileName(owner, caption, proposed, filter);
  }
};

CQtFileDialogService g_defaultService;
CFileDialogService* g_service = nullptr;

}  // namespace

CFileDialogService* InstallFileDialogService(CFileDialogService* service) {
  CFileDialogService* previous = g_service;
  g_service = service;
  return previous;
}

QString AskSaveFileName(QWidget* owner, const QString& caption, const QString& proposed,
                        const QString& filter) {
  CFileDialogService& service = g_service ? *g_service : g_defaultService;
  return service.SaveFileName(owner, caption, proposed, filter);
}
