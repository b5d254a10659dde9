#include "support/test_server.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include <stdlib.h>

#include "base/fixed_text.h"
#include "support/tls_identity.h"

namespace pageloom::test {

namespace {

constexpr std::size_t kPatternSize = 65536;  // power of two

// Pseudo-random bytes, twice over, so that any slice of up to kPatternSize bytes
// starting anywhere in the first copy is contiguous.
const std::array<char, 2 * kPatternSize>& Pattern() {
  static const std::array<char, 2 * kPatternSize> pattern = [] {
    std::array<char, 2 * kPatternSize> p{};
    std::uint32_t x = 2463534242u;
    for (std::size_t i = 0; i < kPatternSize; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      p[i] = p[i + kPatternSize] = static_cast<char>(x & 0xFF);
    }
    // A body that starts at offset 0 starts like a JPEG picture.
    for (std::size_t i = 0; i < 3; ++i) p[i] = p[i + kPatternSize] = "\xFF\xD8\xFF"[i];
    return p;
  }();
  return pattern;
}

// The server's queue of accepted connections: counts them, and holds each new one for
// the time a distant site's connecting takes before its first request is read.
class ConnectionQueue : public httplib::TaskQueue {
 public:
  ConnectionQueue(std::atomic<int>& accepted, std::chrono::milliseconds delay)
      : m_accepted(accepted), m_delay(delay), m_pool(16) {}
  void enqueue(std::function<void()> fn) override {
    ++m_accepted;
    m_pool.enqueue([fn = std::move(fn), delay = m_delay] {
      if (delay.count() > 0) std::this_thread::sleep_for(delay);
      fn();
    });
  }
  void shutdown() override { m_pool.shutdown(); }
  void on_idle() override { m_pool.on_idle(); }

 private:
  std::atomic<int>& m_accepted;
  const std::chrono::milliseconds m_delay;
  httplib::ThreadPool m_pool;
};

}  // namespace

void ClearProxyEnvironment() {
  for (const char* name :
       {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
    ::unsetenv(name);
  ::setenv("NO_PROXY", "127.0.0.1,localhost,::1", 1);
  ::setenv("no_proxy", "127.0.0.1,localhost,::1", 1);
}

TestServer::TestServer(const ServerOptions& options) : m_options(options) {
  ClearProxyEnvironment();
  Pattern();  // built once, before any server thread reads it
  if (options.tls) {
    m_server = std::make_unique<httplib::SSLServer>(options.tls->CertificateFile().c_str(),
                                                    options.tls->KeyFile().c_str());
    if (!m_server->is_valid()) throw std::runtime_error("test server: TLS identity refused");
  } else {
    m_server = std::make_unique<httplib::Server>();
  }
  m_server->set_tcp_nodelay(true);
  if (options.keepAlive) {
    m_server->set_keep_alive_max_count(100000);
    m_server->set_keep_alive_timeout(1);  // idle connections end soon after a stop
  } else {
    m_server->set_keep_alive_max_count(1);  // one request per connection: fast shutdown
  }
  m_server->set_read_timeout(5, 0);
  m_server->set_write_timeout(5, 0);
  m_server->new_task_queue = [this] {
    auto* queue = new ConnectionQueue(m_accepted, m_options.connectionDelay);
    m_queueMade = true;
    return queue;
  };
  m_server->Get(
      ".*", [this](const httplib::Request& req, httplib::Response& res) { Dispatch(req, res); });
  m_port = m_server->bind_to_any_port("127.0.0.1");
  if (m_port <= 0) throw std::runtime_error("test server: no free port on 127.0.0.1");
  m_thread = std::thread([this] { m_server->listen_after_bind(); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!(m_server->is_running() && m_queueMade.load()) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_cv.notify_all();
  m_server->stop();
  if (m_thread.joinable()) m_thread.join();
}

std::string TestServer::Url(std::string_view path) const {
  std::string url =
      (m_options.tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_port);
  if (path.empty() || path.front() != '/') url += '/';
  url.append(path.data(), path.size());
  return url;
}

std::u16string TestServer::WideUrl(std::string_view path) const { return FromUtf8(Url(path)); }

void TestServer::Serve(const std::string& path, std::string body, std::string contentType,
                       int status) {
  Handle(path, [body = std::move(body), contentType = std::move(contentType), status](
                   const httplib::Request&, httplib::Response& res) {
    res.status = status;
    res.set_content(body, contentType);
  });
}

void TestServer::Handle(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_routes[path] = std::move(handler);
}

void TestServer::Redirect(const std::string& path, const std::string& location, int status) {
  Handle(path, [location, status](const httplib::Request&, httplib::Response& res) {
    res.status = status;
    res.set_header("Location", location);
    res.set_content("moved", "text/plain");
  });
}

void TestServer::ServeBroken(const std::string& path, std::string body, std::size_t announcedLength,
                             bool chunked) {
  Handle(path, [body = std::move(body), announcedLength, chunked](const httplib::Request&,
                                                                  httplib::Response& res) {
    if (chunked) {
      res.set_chunked_content_provider("application/octet-stream",
                                       [body](std::size_t offset, httplib::DataSink& sink) {
                                         if (offset == 0 && !body.empty())
                                           sink.write(body.data(), body.size());
                                         return false;  // breaks the connection
                                       });
      return;
    }
    const std::size_t length = std::max(announcedLength, body.size() + 1);
    res.set_content_provider(length, "application/octet-stream",
                             [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset == 0 && !body.empty())
                                 sink.write(body.data(), body.size());
                               return false;  // breaks the connection
                             });
  });
}

void TestServer::HoldRequest() {
  std::unique_lock<std::mutex> lock(m_mutex);
  const std::uint64_t generation = m_stallGeneration;
  ++m_stalled;
  m_cv.notify_all();
  m_cv.wait(lock, [&] { return m_stopping || m_stallGeneration != generation; });
  --m_stalled;
  m_cv.notify_all();
}

void TestServer::Stall(const std::string& path, std::string firstBytes) {
  Handle(path, [this, firstBytes = std::move(firstBytes)](const httplib::Request&,
                                                          httplib::Response& res) {
    if (firstBytes.empty()) {
      HoldRequest();
      res.status = 503;
      res.set_content("released", "text/plain");
      return;
    }
    res.set_content_provider(
        firstBytes.size() + (1u << 20), "application/octet-stream",
        [this, firstBytes](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          if (offset == 0) sink.write(firstBytes.data(), firstBytes.size());
          HoldRequest();
          return false;
        });
  });
}

void TestServer::ReleaseStalls() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_stallGeneration;
  }
  m_cv.notify_all();
}

int TestServer::Stalled() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_stalled;
}

bool TestServer::WaitForStalled(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_cv.wait_for(lock, timeout, [&] { return m_stalled >= count; });
}

char TestServer::GeneratedByte(std::uint64_t offset) {
  return Pattern()[offset & (kPatternSize - 1)];
}

std::string TestServer::GeneratedBody(std::size_t length) {
  std::string body(length, '\0');
  for (std::size_t i = 0; i < length; ++i) body[i] = GeneratedByte(i);
  return body;
}

void TestServer::ServeGenerated(const std::string& path, std::uint64_t length,
                                std::string contentType) {
  Handle(path, [length, contentType = std::move(contentType)](const httplib::Request&,
                                                              httplib::Response& res) {
    res.set_content_provider(
        static_cast<std::size_t>(length), contentType,
        [](std::size_t offset, std::size_t remaining, httplib::DataSink& sink) {
          const std::size_t start = offset & (kPatternSize - 1);
          const std::size_t n = std::min(remaining, kPatternSize);
          return sink.write(Pattern().data() + start, n);
        });
  });
}

void TestServer::Drip(const std::string& path, std::size_t piece, std::chrono::milliseconds every,
                      int pieces) {
  piece = std::clamp<std::size_t>(piece, 1, kPatternSize);
  Handle(path, [this, piece, every, pieces](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider(
        "application/octet-stream",
        [this, piece, every, pieces](std::size_t offset, httplib::DataSink& sink) {
          if (pieces > 0 && offset >= piece * static_cast<std::size_t>(pieces)) {
            sink.done();
            return true;
          }
          {
            std::unique_lock<std::mutex> lock(m_mutex);
            const auto stopping = [this] { return m_stopping; };
            if (every.count() > 0 ? m_cv.wait_for(lock, every, stopping) : stopping()) return false;
          }
          return sink.write(Pattern().data() + (offset & (kPatternSize - 1)), piece);
        });
  });
}

void TestServer::Dispatch(const httplib::Request& req, httplib::Response& res) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mostAtOnce = std::max(m_mostAtOnce, ++m_serving);
    ++m_hits[req.path];
    ++m_totalHits;
    m_lastTarget = req.target;
    m_lastHeaders = req.headers;
    auto it = m_routes.find(req.path);
    if (it != m_routes.end()) handler = it->second;
  }
  m_cv.notify_all();
  struct Served {
    TestServer& server;
    ~Served() {
      std::lock_guard<std::mutex> lock(server.m_mutex);
      --server.m_serving;
    }
  } served{*this};
  if (m_options.requestDelay.count() > 0) std::this_thread::sleep_for(m_options.requestDelay);
  if (!handler) {
    res.status = 404;
    res.set_content("Not Found", "text/plain");
    return;
  }
  handler(req, res);
}

int TestServer::MostAtOnce() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_mostAtOnce;
}

int TestServer::Hits(const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_hits.find(path);
  return it == m_hits.end() ? 0 : it->second;
}

int TestServer::TotalHits() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_totalHits;
}

int TestServer::Connections() const { return m_accepted.load(); }

std::string TestServer::LastTarget() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastTarget;
}

httplib::Headers TestServer::LastHeaders() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastHeaders;
}

std::string TestServer::LastHeader(const std::string& name, bool* has) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& [key, value] : m_lastHeaders) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      if (has) *has = true;
      return value;
    }
  }
  if (has) *has = false;
  return {};
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "pageloom-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr)
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  m_path = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Folders made unwritable by a test must not keep their contents.
  for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (it->is_directory(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::Str(std::string_view inside) const {
  std::string s = m_path.string();
  if (!inside.empty()) {
    if (inside.front() != '/') s += '/';
    s.append(inside.data(), inside.size());
  }
  return s;
}

std::u16string TempDir::Wide(std::string_view inside) const { return FromUtf8(Str(inside)); }

std::string ReadFileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string DistinctBytes(std::string_view magic, std::string_view seed) {
  std::string bytes(magic);
  bytes.append(seed);
  std::uint32_t state = 2166136261u;
  for (const char c : seed) state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
  for (int i = 0; i < 300 + static_cast<int>(state % 200); ++i) {
    state = state * 1664525u + 1013904223u;
    bytes += static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace pageloom::test

namespace pageloom::test {

int PartFilesBeingWritten(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string folder = fs::weakly_canonical(dir, ec).string() + "/";
  int count = 0;
  for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkError;
    const std::string target = fs::read_symlink(it->path(), linkError).string();
    if (linkError || target.compare(0, folder.size(), folder) != 0) continue;
    const std::string rest = target.substr(folder.size());
    if (rest.find('/') != std::string::npos) continue;
    const bool unnamed = rest.size() > 10 && rest.compare(rest.size() - 10, 10, " (deleted)") == 0;
    const bool part = rest.size() > 5 && rest.compare(rest.size() - 5, 5, ".part") == 0;
    if (unnamed || part) ++count;
  }
  return count;
}

}  // namespace pageloom::test
