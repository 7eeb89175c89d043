// The load client of the capacity benchmark: drives HTTPS servers with count queries the way
// widgets connect, and prints one table that sets strikecountd beside a reference server.
//
//   service_load table QUERIES NAME:PORT[:PID,PID..] NAME:PORT[:PIDS]
//       every workload (keep-alive, a new connection per query with a full handshake, the same
//       with a resumed one; 2 and 16 connections) on both servers alternately, ROUNDS rounds of
//       DURATION seconds each; each side's best round, its p99 and the ratio of the first to
//       the second. With PIDs, the servers' CPU time per query too (from /proc).
//       Environment: DURATION (4), ROUNDS (3), THREADS (2), CONNECTIONS ("2 16"),
//       MODES ("keep-alive full resumed").
//   service_load detail QUERIES NAME:PORT[:PIDS]
//       the plain count beside the detailed answer (the same queries with the request field
//       Strikes-Detail: 1) on one server, keep-alive, alternately, ROUNDS rounds each, at each
//       of CONNECTIONS; each side's best round and the ratio.
//   service_load counts QUERIES PORT N
//       the answers to the first N queries, one a line, asked one after the other.
//
// QUERIES holds id,lat,lon,miles lines (service_benchdata queries). Certificates are not
// verified: the client's share of the work stays small, the servers' stays what it is. A full
// handshake offers no session; a resumed one offers the ticket the previous connection got.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
enum class Mode { kKeepAlive, kFull, kResumed };
const char* const kModeNames[] = {"keep-alive", "full", "resumed"};

std::vector<std::string> ReadTargets(const char* path) {
  std::vector<std::string> targets;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    int id;
    double lat, lon, miles;
    char buf[160];
    if (std::sscanf(line.c_str(), "%d,%lf,%lf,%lf", &id, &lat, &lon, &miles) != 4) continue;
    std::snprintf(buf, sizeof buf, "/counter/Strike_Counter.php?lat=%.5f&lon=%.5f&distance=%.3f",
                  lat, lon, miles);
    targets.push_back(buf);
  }
  return targets;
}

struct Result {
  double rate = 0, p50_ms = 0, p99_ms = 0, cpu_us = 0;  // cpu: the server's, per query
  std::uint64_t done = 0, errors = 0, resumed = 0;
};

// One client connection driven by a thread's epoll loop; reconnects after each answer unless
// kept alive.
struct Conn {
  int fd = -1;
  SSL* ssl = nullptr;
  SSL_SESSION* session = nullptr;  // the last one, for resumed handshakes
  enum { kConnecting, kHandshake, kWriting, kReading } state = kConnecting;
  std::string request, in;
  std::size_t written = 0;
  std::size_t next_query = 0;
  Clock::time_point began;
};

class Worker {
 public:
  Worker(SSL_CTX* ctx, const std::vector<std::string>& targets, int port, Mode mode, int conns,
         std::size_t first_query, bool detail)
      : ctx_(ctx),
        targets_(targets),
        port_(port),
        mode_(mode),
        detail_(detail),
        conns_(static_cast<size_t>(conns)) {
    for (std::size_t i = 0; i < conns_.size(); ++i)
      conns_[i].next_query = first_query + i * 7919;  // spread over the list
  }

  // Runs until `stop`; answers completed within [from, to) are counted and timed.
  void Run(const std::atomic<bool>& stop, Clock::time_point from, Clock::time_point to) {
    from_ = from, to_ = to;
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    for (Conn& c : conns_) Open(c);
    epoll_event events[64];
    while (!stop.load(std::memory_order_relaxed)) {
      const int n = epoll_wait(epoll_, events, 64, 20);
      for (int i = 0; i < n; ++i) Drive(*static_cast<Conn*>(events[i].data.ptr));
    }
    for (Conn& c : conns_) {
      Close(c);
      if (c.session) SSL_SESSION_free(c.session);
    }
    close(epoll_);
  }

  std::vector<std::uint32_t> latencies_us;
  std::uint64_t done = 0, errors = 0, resumed = 0;

 private:
  void Open(Conn& c) {
    c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    c.began = Clock::now();
    c.state = Conn::kConnecting;
    c.in.clear();
    if (connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
        errno != EINPROGRESS) {
      return Fail(c);
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLET;
    ev.data.ptr = &c;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, c.fd, &ev);
  }

  void Close(Conn& c) {
    if (c.ssl) SSL_free(c.ssl);
    c.ssl = nullptr;
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
  }

  void Fail(Conn& c) {
    ++errors;
    Close(c);
    Open(c);
  }

  void NextRequest(Conn& c) {
    const std::string& target = targets_[c.next_query++ % targets_.size()];
    c.request = "GET " + target + " HTTP/1.1\r\nHost: localhost\r\nUser-Agent: service_load\r\n";
    if (detail_) c.request += "Strikes-Detail: 1\r\n";
    c.request += mode_ == Mode::kKeepAlive ? "\r\n" : "Connection: close\r\n\r\n";
    c.written = 0;
    c.in.clear();
    c.state = Conn::kWriting;
    if (mode_ == Mode::kKeepAlive) c.began = Clock::now();
  }

  // Whether `c.in` holds a whole answer; sets `ok` to whether it is a 200.
  static bool Complete(const Conn& c, bool& ok) {
    const std::size_t end = c.in.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    std::size_t length = 0;
    for (const char* name : {"Content-Length: ", "content-length: "}) {
      const std::size_t at = c.in.find(name);
      if (at != std::string::npos && at < end) length = std::strtoul(&c.in[at + 16], nullptr, 10);
    }
    ok = c.in.compare(0, 12, "HTTP/1.1 200") == 0;
    return c.in.size() >= end + 4 + length;
  }

  void Drive(Conn& c) {
    for (;;) {
      int r = 1;
      switch (c.state) {
        case Conn::kConnecting: {
          int err = 0;
          socklen_t len = sizeof err;
          getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
          if (err == EINPROGRESS) return;
          if (err != 0) return Fail(c);
          c.ssl = SSL_new(ctx_);
          SSL_set_fd(c.ssl, c.fd);
          SSL_set_tlsext_host_name(c.ssl, "localhost");
          SSL_set_connect_state(c.ssl);
          if (mode_ == Mode::kResumed && c.session) SSL_set_session(c.ssl, c.session);
          c.state = Conn::kHandshake;
          break;
        }
        case Conn::kHandshake:
          r = SSL_do_handshake(c.ssl);
          if (r == 1) NextRequest(c);
          break;
        case Conn::kWriting:
          r = SSL_write(c.ssl, c.request.data() + c.written,
                        static_cast<int>(c.request.size() - c.written));
          if (r > 0 && (c.written += static_cast<std::size_t>(r)) == c.request.size())
            c.state = Conn::kReading;
          break;
        case Conn::kReading: {
          char buf[4096];
          r = SSL_read(c.ssl, buf, sizeof buf);
          if (r <= 0) break;
          c.in.append(buf, static_cast<std::size_t>(r));
          bool ok = false;
          if (!Complete(c, ok)) break;
          Answered(c, ok);
          if (mode_ == Mode::kKeepAlive) {
            NextRequest(c);
          } else {
            SSL_shutdown(c.ssl);  // close_notify: a session closed without it is not resumed
            Close(c);
            Open(c);
            return;  // driven again by its first event
          }
          break;
        }
      }
      if (r <= 0) {
        const int e = SSL_get_error(c.ssl, r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return;
        ERR_clear_error();
        return Fail(c);
      }
    }
  }

  void Answered(Conn& c, bool ok) {
    if (mode_ == Mode::kResumed && ok) {  // the newest ticket, for the next connection
      if (c.session) SSL_SESSION_free(c.session);
      c.session = SSL_get1_session(c.ssl);
    }
    const auto now = Clock::now();
    if (now < from_ || now >= to_) return;
    if (!ok) {
      ++errors;
      return;
    }
    ++done;
    latencies_us.push_back(static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now - c.began).count()));
    if (SSL_session_reused(c.ssl)) ++resumed;
  }

  SSL_CTX* ctx_;
  const std::vector<std::string>& targets_;
  int port_;
  Mode mode_;
  bool detail_;
  std::vector<Conn> conns_;
  int epoll_ = -1;
  Clock::time_point from_, to_;
};

double CpuSeconds(const std::vector<int>& pids) {
  double total = 0;
  for (int pid : pids) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;  // fields 14 and 15: utime, stime
    double utime = 0, stime = 0;
    fields >> utime >> stime;
    total += (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return total;
}

Result RunLoad(const std::vector<std::string>& targets, int port, const std::vector<int>& pids,
               Mode mode, int connections, int threads, double seconds, bool detail = false) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  if (mode != Mode::kResumed) SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
  const auto warmup = std::chrono::milliseconds(mode == Mode::kKeepAlive ? 800 : 400);
  const auto start = Clock::now(), from = start + warmup;
  const auto to = from + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
  std::vector<Worker> workers;
  for (int t = 0; t < threads; ++t) {
    const int n = connections / threads + (t < connections % threads ? 1 : 0);
    workers.emplace_back(ctx, targets, port, mode, n, static_cast<std::size_t>(t) * 104729, detail);
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> running;
  for (Worker& w : workers) running.emplace_back([&w, &stop, from, to] { w.Run(stop, from, to); });
  std::this_thread::sleep_until(from);
  const double cpu0 = CpuSeconds(pids);
  std::this_thread::sleep_until(to);
  const double cpu1 = CpuSeconds(pids);
  stop = true;
  for (auto& t : running) t.join();
  SSL_CTX_free(ctx);

  Result r;
  std::vector<std::uint32_t> lat;
  for (Worker& w : workers) {
    r.done += w.done, r.errors += w.errors, r.resumed += w.resumed;
    lat.insert(lat.end(), w.latencies_us.begin(), w.latencies_us.end());
  }
  r.rate = static_cast<double>(r.done) / seconds;
  if (r.done > 0) r.cpu_us = (cpu1 - cpu0) * 1e6 / static_cast<double>(r.done);
  auto quantile = [&](double q) {
    if (lat.empty()) return 0.0;
    auto at = lat.begin() + static_cast<long>(q * static_cast<double>(lat.size() - 1));
    std::nth_element(lat.begin(), at, lat.end());
    return *at / 1000.0;
  };
  r.p50_ms = quantile(0.5);
  r.p99_ms = quantile(0.99);
  return r;
}

struct Side {
  std::string name;
  int port = 0;
  std::vector<int> pids;
};

Side ParseSide(const std::string& text) {
  Side side;
  std::istringstream in(text);
  std::string port, pids;
  std::getline(in, side.name, ':');
  std::getline(in, port, ':');
  std::getline(in, pids);
  side.port = std::atoi(port.c_str());
  std::istringstream list(pids);
  for (std::string pid; std::getline(list, pid, ',');) side.pids.push_back(std::atoi(pid.c_str()));
  return side;
}

std::vector<std::string> Words(const char* env, const char* fallback) {
  std::istringstream in(std::getenv(env) ? std::getenv(env) : fallback);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string Rate(double r) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.0f", r);
  std::string s = buf;
  for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3) s.insert(static_cast<size_t>(i), ",");
  return s;
}

// How each load runs: DURATION s a round, ROUNDS rounds a side, THREADS client threads.
struct Rounds {
  double seconds = std::getenv("DURATION") ? std::atof(std::getenv("DURATION")) : 4;
  int rounds = std::getenv("ROUNDS") ? std::atoi(std::getenv("ROUNDS")) : 3;
  int threads = std::getenv("THREADS") ? std::atoi(std::getenv("THREADS")) : 2;
};

// Two sides' loads, run alternately `rounds` times each (who goes first alternates): each
// side's best round and the rates of all its rounds. `run(side)` runs one round; each is logged
// to stderr under `label` and the side's name.
struct BestRounds {
  Result best[2];
  std::string rates[2];
};
BestRounds RunAlternately(int rounds, const std::string& label, const std::string (&names)[2],
                          const std::function<Result(int side)>& run) {
  BestRounds out;
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < 2; ++k) {
      const int side = round % 2 == 0 ? k : 1 - k;
      const Result r = run(side);
      std::fprintf(stderr, "  %-16s %-13s round %d: %9.0f q/s, p99 %.2f ms, %llu errors\n",
                   label.c_str(), names[side].c_str(), round + 1, r.rate, r.p99_ms,
                   static_cast<unsigned long long>(r.errors));
      out.rates[side] += (out.rates[side].empty() ? "" : " ") + Rate(r.rate);
      if (round == 0 || r.rate > out.best[side].rate) out.best[side] = r;
    }
  }
  return out;
}

// A side's best round in the table: its rate, p99 and, when measured, the server's CPU time.
std::string Cell(const Result& r) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%7s q/s p99 %5.2f ms", Rate(r.rate).c_str(), r.p99_ms);
  std::string cell = buf;
  if (r.cpu_us > 0) {
    std::snprintf(buf, sizeof buf, " %4.0fus", r.cpu_us);
    cell += buf;
  }
  return cell;
}

int Table(const std::vector<std::string>& targets, const Side& a, const Side& b) {
  const Rounds settings;
  const std::string names[2] = {a.name, b.name};
  struct Row {
    std::string label;
    Mode mode;
    BestRounds result;
  };
  std::vector<Row> rows;
  for (const std::string& mode_name : Words("MODES", "keep-alive full resumed")) {
    const auto m = std::find(std::begin(kModeNames), std::end(kModeNames), mode_name);
    if (m == std::end(kModeNames))
      return std::fprintf(stderr, "unknown mode %s\n", mode_name.c_str()), 2;
    const Mode mode = static_cast<Mode>(m - std::begin(kModeNames));
    for (const std::string& conns : Words("CONNECTIONS", "2 16")) {
      const std::string label = mode_name + ", " + conns;
      rows.push_back({label, mode, RunAlternately(settings.rounds, label, names, [&](int side) {
                        const Side& s = side == 0 ? a : b;
                        return RunLoad(targets, s.port, s.pids, mode, std::atoi(conns.c_str()),
                                       settings.threads, settings.seconds);
                      })});
    }
  }
  std::printf("\n%-15s | %-31s | %-31s | %-11s\n", "workload (conn.)", a.name.c_str(),
              b.name.c_str(), "ratio");
  std::printf("%s\n", std::string(97, '-').c_str());
  bool met = true;
  for (const Row& row : rows) {
    const Result* best = row.result.best;
    const double goal = row.mode == Mode::kKeepAlive ? 0.8 : 0.95;
    const double ratio = best[1].rate > 0 ? best[0].rate / best[1].rate : 0;
    const bool ok = ratio >= goal;
    met = met && ok;
    std::printf("%-16s | %-31s | %-31s | %.2f %s%.2f\n", row.label.c_str(), Cell(best[0]).c_str(),
                Cell(best[1]).c_str(), ratio, ok ? ">= " : "< ", goal);
  }
  std::printf(
      "\nEach side's best of %d rounds of %g s; us: the server's CPU time per query;\n"
      "all rounds (q/s):\n",
      settings.rounds, settings.seconds);
  for (const Row& row : rows) {
    const Result* best = row.result.best;
    std::printf("  %-16s %s: %s; %s: %s", row.label.c_str(), a.name.c_str(),
                row.result.rates[0].c_str(), b.name.c_str(), row.result.rates[1].c_str());
    for (int s = 0; s < 2; ++s) {
      if (best[s].errors > 0)
        std::printf("; %s: %llu ERRORS", names[s].c_str(),
                    static_cast<unsigned long long>(best[s].errors));
      if (row.mode == Mode::kResumed && best[s].done > 0)
        std::printf(
            "; %s resumed %.0f%%", names[s].c_str(),
            100.0 * static_cast<double>(best[s].resumed) / static_cast<double>(best[s].done));
    }
    std::printf("\n");
  }
  std::printf("%s\n", met ? "every ratio meets its goal" : "SOME RATIO IS BELOW ITS GOAL");
  return 0;
}

// The plain count and the detailed answer on one server, alternately, keep-alive.
int Detail(const std::vector<std::string>& targets, const Side& side) {
  const Rounds settings;
  const std::string names[2] = {"plain", "detail"};
  std::printf("\n%-16s | %-31s | %-31s | %s\n", "keep-alive (conn.)", "plain count",
              "count with Strikes-Detail: 1", "ratio");
  std::printf("%s\n", std::string(92, '-').c_str());
  for (const std::string& conns : Words("CONNECTIONS", "2 16")) {
    const BestRounds r = RunAlternately(settings.rounds, conns, names, [&](int detail) {
      return RunLoad(targets, side.port, side.pids, Mode::kKeepAlive, std::atoi(conns.c_str()),
                     settings.threads, settings.seconds, detail == 1);
    });
    std::printf("%-18s | %-31s | %-31s | %.2f   (rounds: %s; %s)\n", conns.c_str(),
                Cell(r.best[0]).c_str(), Cell(r.best[1]).c_str(),
                r.best[0].rate > 0 ? r.best[1].rate / r.best[0].rate : 0.0, r.rates[0].c_str(),
                r.rates[1].c_str());
    if (r.best[0].errors + r.best[1].errors > 0) std::printf("  ERRORS in the best rounds\n");
  }
  return 0;
}

// The answers to the first `n` queries, asked one at a time over one connection.
int Counts(const std::vector<std::string>& targets, int port, std::size_t n) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    return perror("connect"), 1;
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, fd);
  if (SSL_connect(ssl) != 1) return std::fprintf(stderr, "handshake failed\n"), 1;
  for (std::size_t i = 0; i < n && i < targets.size(); ++i) {
    const std::string req = "GET " + targets[i] + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
    SSL_write(ssl, req.data(), static_cast<int>(req.size()));
    std::string in;
    char buf[4096];
    std::size_t end = std::string::npos, length = 0;
    while (end == std::string::npos || in.size() < end + 4 + length) {
      const int r = SSL_read(ssl, buf, sizeof buf);
      if (r <= 0) return std::fprintf(stderr, "connection lost at query %zu\n", i + 1), 1;
      in.append(buf, static_cast<std::size_t>(r));
      end = in.find("\r\n\r\n");
      const std::size_t at = in.find("Content-Length: ");
      if (at != std::string::npos) length = std::strtoul(&in[at + 16], nullptr, 10);
    }
    std::printf("%s\n", in.substr(end + 4, length).c_str());
  }
  SSL_free(ssl);
  close(fd);
  SSL_CTX_free(ctx);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "table" && argc == 5) {
    const auto targets = ReadTargets(argv[2]);
    if (targets.empty()) return std::fprintf(stderr, "no queries in %s\n", argv[2]), 2;
    return Table(targets, ParseSide(argv[3]), ParseSide(argv[4]));
  }
  if (cmd == "detail" && argc == 4) {
    const auto targets = ReadTargets(argv[2]);
    if (targets.empty()) return std::fprintf(stderr, "no queries in %s\n", argv[2]), 2;
    return Detail(targets, ParseSide(argv[3]));
  }
  if (cmd == "counts" && argc == 5) {
    return Counts(ReadTargets(argv[2]), std::atoi(argv[3]),
                  static_cast<std::size_t>(std::atol(argv[4])));
  }
  std::fprintf(stderr,
               "usage: service_load table QUERIES NAME:PORT[:PIDS] NAME:PORT[:PIDS]\n"
               "       service_load detail QUERIES NAME:PORT[:PIDS]\n"
               "       service_load counts QUERIES PORT N\n");
  return 2;
}
