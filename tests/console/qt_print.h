// Qt strings in test failures as text rather than as arrays of code units.
#pragma once

#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

inline void PrintTo(const QStringList& texts, std::ostream* os) {
  *os << '{';
  for (qsizetype i = 0; i < texts.size(); ++i) {
    if (i) *os << ", ";
    PrintTo(texts[i], os);
  }
  *os << '}';
}
