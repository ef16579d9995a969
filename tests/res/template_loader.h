// Builds a dialog template on a plain QDialog through its generated Ui class.
#pragma once

#include <QDialog>

#include <memory>

// The dialog of template `templateId` (100, 102, 130, 131 or 132), or null.
std::unique_ptr<QDialog> LoadTemplate(int templateId);
