#include "name_lookup.h"

#include <netdb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

Resolved SystemResolve(const std::string& host, const std::string& service) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  Resolved r;
  const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    r.error = gai_strerror(rc);
    return r;
  }
  for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    Endpoint e;
    e.family = ai->ai_family;
    e.length = static_cast<socklen_t>(std::min<size_t>(ai->ai_addrlen, sizeof e.address));
    std::memcpy(&e.address, ai->ai_addr, e.length);
    r.endpoints.push_back(e);
  }
  freeaddrinfo(found);
  return r;
}

// One lookup under way; whoever asks for the same name meanwhile waits for
// it rather than starting another.
struct Pending {
  bool done = false;
  Resolved result;
};

struct Names {
  std::mutex mutex;
  std::condition_variable answered;
  NameResolver resolver;
  std::map<std::string, std::vector<Endpoint>> found;
  std::map<std::string, std::shared_ptr<Pending>> pending;
};

Names& State() {
  static Names* names = new Names;  // outlives the lookups still running at exit
  return *names;
}

// Starts the lookup of `key` on a thread of its own; under the lock.
std::shared_ptr<Pending> Begin(Names& n, const std::string& key, const std::string& host,
                               const std::string& service) {
  auto p = std::make_shared<Pending>();
  n.pending[key] = p;
  NameResolver resolver = n.resolver ? n.resolver : NameResolver(SystemResolve);
  std::thread([&n, p, key, host, service, resolver] {
    Resolved r = resolver(host, service);
    std::lock_guard<std::mutex> lock(n.mutex);
    if (r.error.empty() && r.endpoints.empty()) r.error = "no address";
    if (r.error.empty()) n.found[key] = r.endpoints;
    if (const auto it = n.pending.find(key); it != n.pending.end() && it->second == p) n.pending.erase(it);
    p->result = std::move(r);
    p->done = true;
    n.answered.notify_all();
  }).detach();
  return p;
}

}  // namespace

void SetNameResolver(NameResolver resolver) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().resolver = std::move(resolver);
}

void ForgetNames() {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().found.clear();
  State().pending.clear();
}

bool LookUpName(const std::string& host, const std::string& service, uint32_t ms,
                std::vector<Endpoint>& out, std::string& why) {
  Names& n = State();
  const std::string key = host + '\n' + service;
  std::unique_lock<std::mutex> lock(n.mutex);
  if (const auto it = n.found.find(key); it != n.found.end()) {
    out = it->second;
    return true;
  }
  auto it = n.pending.find(key);
  std::shared_ptr<Pending> p = it != n.pending.end() ? it->second : Begin(n, key, host, service);
  if (!n.answered.wait_for(lock, std::chrono::milliseconds(ms), [&p] { return p->done; })) {
    why = "无法解析主机名 " + host;
    return false;
  }
  out = p->result.endpoints;
  why = p->result.error;
  return why.empty();
}
