#include "open_failure.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <utility>
#include <vector>

namespace {

OpenFailure& Last() {
  thread_local OpenFailure last;
  return last;
}

}  // namespace

const OpenFailure& LastOpenFailure() { return Last(); }

void SetLastOpenFailure(OpenFailure failure) { Last() = std::move(failure); }

std::string ProgramName(pid_t pid) {
  if (pid <= 0) return std::string();
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

std::string GroupOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::string();
  group entry {};
  group* found = nullptr;
  std::vector<char> buffer(4096);
  if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return std::to_string(st.st_gid);
  return found->gr_name;
}
