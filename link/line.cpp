// The kinds of line, by the scheme of the path that names them.
#include "line.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <iterator>

#include "remote_line.h"

std::unique_ptr<Line> MakeTermiosLine(const std::string& path);

namespace {

struct KindRow {
  const char* scheme;  // before "://"
  bool setsBaud;       // the line takes the baud rate from us
  // Null when the rest of the path is no address of this kind.
  std::unique_ptr<Line> (*make)(const std::string& path);
};

const KindRow kKinds[] = {
    {"tcp", false, [](const std::string& p) { return RemoteLine::ForPath(kTcpLine, p); }},
    {"rfc2217", true, [](const std::string& p) { return RemoteLine::ForPath(kRfc2217Line, p); }},
};

// The row of a path with a known scheme and a well-formed address, or null.
const KindRow* RowOf(const std::string& path, std::unique_ptr<Line>* made = nullptr) {
  const size_t sep = path.find("://");
  if (sep == std::string::npos) return nullptr;
  const std::string scheme = path.substr(0, sep);
  const auto* row = std::find_if(std::begin(kKinds), std::end(kKinds),
                                 [&](const KindRow& k) { return scheme == k.scheme; });
  if (row == std::end(kKinds)) return nullptr;
  std::unique_ptr<Line> line = row->make(path);
  if (!line) return nullptr;
  if (made != nullptr) *made = std::move(line);
  return row;
}

}  // namespace

std::unique_ptr<Line> MakeLine(const std::string& path) {
  std::unique_ptr<Line> line;
  if (RowOf(path, &line) != nullptr) return line;
  return MakeTermiosLine(path);
}

bool IsSchemeLine(const std::string& path) { return RowOf(path) != nullptr; }

bool KindSetsBaud(const std::string& path) {
  const KindRow* row = RowOf(path);
  return row == nullptr || row->setsBaud;
}

LineWait PollLine(int fd, short events, uint32_t ms, int wakeFd) {
  pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
  const int r = poll(p, wakeFd >= 0 ? 2 : 1, ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
  if (r < 0) return errno == EINTR ? LineWait::Ready : LineWait::Gone;
  if (r == 0) return LineWait::TimedOut;
  if (p[0].revents & events) return LineWait::Ready;
  if (p[0].revents != 0) return LineWait::Gone;
  return LineWait::Woken;
}
