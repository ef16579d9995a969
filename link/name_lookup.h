// Host names of remote lines, looked up off the caller's thread and within
// a deadline: a resolver that drops queries (a dead DNS server) must not
// hold an open, or the window behind it, for the resolver's own time-outs.
// An address once found is kept for the session, so a reconnect inside an
// exchange never waits for a lookup. Internal to the link.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Endpoint {
  int family = 0;
  sockaddr_storage address{};
  socklen_t length = 0;
};

struct Resolved {
  std::vector<Endpoint> endpoints;
  std::string error;  // the resolver's words when it found none
};

// What turns a host and a port into addresses: getaddrinfo(3) by default.
// Tests put one here that blocks. It runs on a thread of its own, and may
// still be running when its caller has given up on it.
using NameResolver = std::function<Resolved(const std::string& host, const std::string& service)>;
void SetNameResolver(NameResolver resolver);  // empty: getaddrinfo again
// Forgets every address found so far (tests).
void ForgetNames();

// The addresses of host:service within `ms`. False with `why`: the
// resolver's words, or "无法解析主机名 HOST" when it did not answer in time.
bool LookUpName(const std::string& host, const std::string& service, uint32_t ms,
                std::vector<Endpoint>& out, std::string& why);
