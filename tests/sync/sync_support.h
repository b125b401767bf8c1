// Real parts for the sync tests: a bare central repository, wikis that sync
// with it, and a git daemon on 127.0.0.1 started and stopped by the test.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testutil.h"
#include "wikidb.h"

namespace synctest {

inline std::string trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

inline std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) out.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

// A port nobody listens on now (the kernel's choice).
inline int free_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

inline bool can_connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

// A server process the test starts and stops: started by fork and exec,
// waited for until it listens, stopped by its PID.
class ServerProcess {
 public:
  ~ServerProcess() { stop(); }
  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }
  int port() const { return port_; }

 protected:
  // Runs argv (argv[0] found on PATH) and waits until port() accepts a
  // connection; read_port, when given, learns the port first (it returns
  // 0 until it knows). False when the server exited or never listened.
  bool run(const std::vector<std::string> &argv, int (*read_port)(const std::string &),
           const std::string &port_source) {
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char *> args;
      for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    // A bound against a server that never listens: it listens within a
    // fraction of a second on a quiet machine; 30 s is far beyond that.
    for (int i = 0; i < 600; i++) {
      if (read_port && port_ <= 0) port_ = read_port(port_source);
      if (port_ > 0 && can_connect(port_)) return true;
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      usleep(50 * 1000);
    }
    stop();
    return false;
  }
  int port_ = 0;

 private:
  pid_t pid_ = -1;
};

// git daemon serving base (every repository, push enabled) on 127.0.0.1.
class Daemon : public ServerProcess {
 public:
  explicit Daemon(const std::string &base) : base_(base) {}
  // Starts on port (a free one when 0). False when it did not listen.
  bool start(int port = 0) {
    port_ = port ? port : free_port();
    if (port_ <= 0) return false;
    return run({"git", "daemon", "--reuseaddr", "--listen=127.0.0.1",
                "--port=" + std::to_string(port_), "--base-path=" + base_, "--export-all",
                "--enable=receive-pack", "--informative-errors", base_},
               nullptr, "");
  }
  std::string url(const std::string &repo) const {
    return "git://127.0.0.1:" + std::to_string(port_) + "/" + repo;
  }

 private:
  std::string base_;
};

// git's smart HTTP: git http-backend behind the small web server of
// http_backend.py, on 127.0.0.1, serving every repository under base; with
// a token, only requests that carry it as a Bearer authorization.
class HttpServer : public ServerProcess {
 public:
  HttpServer(const std::string &base, const std::string &token) : base_(base), token_(token) {}
  // False when it did not listen (no python3, or no git http-backend).
  bool start() {
    std::vector<std::string> argv = {"python3", WIKIDB_HTTP_BACKEND, base_, base_ + "/http-port"};
    if (!token_.empty()) argv.push_back(token_);
    // The server writes the port the kernel chose into the file, whole.
    return run(argv,
               [](const std::string &file) {
                 return testutil::exists(file) ? atoi(testutil::read_file(file).c_str()) : 0;
               },
               base_ + "/http-port");
  }
  std::string url(const std::string &repo) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + repo;
  }

 private:
  std::string base_, token_;
};

}  // namespace synctest
