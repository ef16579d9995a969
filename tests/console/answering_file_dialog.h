// A file dialog that answers at once with a set path (empty: cancelled) and
// notes what it was asked; installed for its lifetime.
#pragma once

#include <QString>

#include "dialog/FileDialogService.h"

class CAnsweringFileDialog : public CFileDialogService {
 public:
  explicit CAnsweringFileDialog(QString answer = {})
      : answer(std::move(answer)), m_previous(InstallFileDialogService(this)) {}
  ~CAnsweringFileDialog() override { InstallFileDialogService(m_previous); }
  CAnsweringFileDialog(const CAnsweringFileDialog&) = delete;
  CAnsweringFileDialog& operator=(const CAnsweringFileDialog&) = delete;

  QString SaveFileName(QWidget*, const QString&, const QString& proposedPath,
                       const QString&) override {
    ++asked;
    proposed = proposedPath;
    return answer;
  }

  QString answer;
  QString proposed;
  int asked = 0;

 private:
  CFileDialogService* m_previous;
};
