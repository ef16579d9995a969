// What the console remembers between runs: the line it last reached a
// controller on (the port's device, the baud rate, the station address),
// the search's choices, the alarm sound and where its windows stood. An INI
// file in the user's configuration folder ($XDG_CONFIG_HOME/qd7420/
// qd7420.ini, else ~/.config/qd7420/qd7420.ini), written at each change so
// that a crash or a pulled plug loses nothing.
//
// What the command line sets for this run is pinned: it is neither read
// from the file nor written to it. A file that cannot be read or written
// leaves the console at its defaults, said in one trace line and never in a
// box; several consoles at once take QSettings' lock around each write.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QVariant>

#include <array>
#include <memory>
#include <optional>

class QSettings;

class CConsoleSettings {
 public:
  // The folder the file lives in: the user's configuration folder.
  static QString DefaultFolder();

  // `enabled` false (--no-settings): nothing is read, nothing is written.
  explicit CConsoleSettings(bool enabled, const QString& folder = DefaultFolder());
  ~CConsoleSettings();
  CConsoleSettings(const CConsoleSettings&) = delete;
  CConsoleSettings& operator=(const CConsoleSettings&) = delete;

  QString FilePath() const { return m_strPath; }
  // The file could not be read or written: it is left alone from then on.
  bool Failed() const { return m_bFailed; }

  // --- What the command line fixes for this run ---
  void PinLine() { m_bLinePinned = true; }  // --simulate: the whole line
  void PinPort() { m_bPortPinned = true; }  // --port: only the port's device
  void PinQuickSearch() { m_bQuickPinned = true; }
  void PinTurnaround() { m_bTurnaroundPinned = true; }

  struct Line {
    QString device;  // path, by-id name or remote URL; empty: not remembered
    int baud = 0;
    int address = 0;
  };
  // The line a command was last accepted on; none when nothing sound is
  // remembered. The device is empty while the port is pinned.
  std::optional<Line> RememberedLine() const;
  void RememberLine(const Line& line);

  static constexpr size_t kRateCount = 6;  // 1200 ... 38400
  struct Search {
    std::optional<std::array<bool, kRateCount>> ticked;
    std::optional<bool> quick;
    std::optional<int> turnaroundMs;
  };
  Search RememberedSearch() const;
  void RememberTicked(const std::array<bool, kRateCount>& ticked);
  void RememberQuick(bool quick);

  // "告警声音" in the window's menu.
  std::optional<bool> RememberedSound() const;
  void RememberSound(bool on);

  // Where the window named `window` ("main", "traffic") last stood.
  std::optional<QRect> RememberedGeometry(const QString& window) const;
  void RememberGeometry(const QString& window, const QRect& frame);

  // `frame` moved the least so that it lies inside `available` (its top
  // left corner first, when it is larger).
  static QPoint KeepInside(const QRect& frame, const QRect& available);

 private:
  // The value at `key` when the file is sound and the key is not pinned.
  std::optional<QVariant> Value(const QString& key) const;
  void Write(const QString& key, const QVariant& value);
  void Fail(const char* why);

  QString m_strPath;
  std::unique_ptr<QSettings> m_settings;  // null: disabled or failed
  bool m_bFailed = false;
  bool m_bLinePinned = false;
  bool m_bPortPinned = false;
  bool m_bQuickPinned = false;
  bool m_bTurnaroundPinned = false;
};
