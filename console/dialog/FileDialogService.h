// The file dialog of the console's exports, through one replaceable service
// (as the message boxes): the dialog only returns the chosen name and does
// no I/O of its own, so tests install a service that answers at once.
#pragma once

#include <QString>

class QWidget;

class CFileDialogService {
 public:
  virtual ~CFileDialogService() = default;
  // The file to save to, starting from `proposed` (a full path); empty when
  // the operator cancelled. Called on the GUI thread.
  virtual QString SaveFileName(QWidget* owner, const QString& caption, const QString& proposed,
                               const QString& filter) = 0;
};

// Installs `service` (not owned; null restores QFileDialog) and returns the
// one it replaces (null when that was the default).
CFileDialogService* InstallFileDialogService(CFileDialogService* service);

QString AskSaveFileName(QWidget* owner, const QString& caption, const QString& proposed,
                        const QString& filter);
