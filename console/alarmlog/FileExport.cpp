#include "alarmlog/FileExport.h"

#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>

#include "dialog/FileDialogService.h"
#include "dialog/MessageService.h"
#include "window/Messages.h"

QString DocumentsPath(const QString& name) {
  // A fresh account may have no documents folder yet: the home folder then.
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  const QDir documents(folder);
  return (folder.isEmpty() || !documents.exists() ? QDir::home() : documents).filePath(name);
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& error) {
  QSaveFile file(path);
  // Never fall back to writing the target in place: that is what leaves
  // half a file behind.
  file.setDirectWriteFallback(false);
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
    return true;
  error = file.errorString();
  file.cancelWriting();
  return false;
}

bool ExportFile(QWidget* owner, const QString& caption, const QString& proposedName,
                const QString& filter, const QByteArray& bytes) {
  const QString path = AskSaveFileName(owner, caption, DocumentsPath(proposedName), filter);
  if (path.isEmpty()) return false;
  QString error;
  if (WriteWholeFile(path, bytes, error)) return true;
  ShowMessage(owner, QString::fromUtf8(kTextSaveFailed).arg(QDir::toNativeSeparators(path), error));
  return false;
}
