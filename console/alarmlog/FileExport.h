// Saving an export the operator asked for: a file dialog proposing a name in
// the documents folder, then the bytes written whole or not at all. A write
// that fails says so in a box naming the file and the system's reason.
#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

// `name` in the user's documents folder (the home folder when there is none).
QString DocumentsPath(const QString& name);

// Writes `bytes` to `path` through a temporary file renamed into place at the
// end, so a failure leaves no partial file (and an older file as it was).
// False with the reason in `error` on failure.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& error);

// Asks where to save (proposing `proposedName` in the documents folder) and
// writes the file; the failure box is owned by `owner`. False when the
// operator cancelled or the write failed.
bool ExportFile(QWidget* owner, const QString& caption, const QString& proposedName,
                const QString& filter, const QByteArray& bytes);
