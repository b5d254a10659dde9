// A local HTTP or HTTPS server for tests and benchmarks (cpp-httplib on 127.0.0.1, a free
// port), and temporary folders. The server runs on its own thread from construction to
// destruction; routes may be added at any time, also while requests are served. By
// default every answer closes its connection, so the server stops at once when destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include <httplib.h>

namespace pageloom::test {

// Removes the proxy variables from the environment and sets NO_PROXY for the loopback
// addresses, so that libcurl talks to the local server directly. TestServer calls it;
// call it yourself before starting threads when you need it earlier.
void ClearProxyEnvironment();

class TlsIdentity;

struct ServerOptions {
  // HTTPS with this identity (it must outlive the server); null: plain HTTP.
  const TlsIdentity* tls = nullptr;
  // Connections stay open for further requests (idle ones are closed after a second),
  // as a real site's do; off: one request per connection.
  bool keepAlive = false;
  // Waits that a distant site adds: on every new connection before its first request is
  // read (the round trips of connecting), and before every answer.
  std::chrono::milliseconds connectionDelay{0};
  std::chrono::milliseconds requestDelay{0};
};

class TestServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  TestServer() : TestServer(ServerOptions{}) {}
  explicit TestServer(const ServerOptions& options);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int Port() const { return m_port; }
  // "http://127.0.0.1:PORT" (https with a TLS identity) followed by `path` (a '/' is put
  // in between when missing).
  std::string Url(std::string_view path) const;
  std::u16string WideUrl(std::string_view path) const;

  // Routes are matched on the decoded request path (without the query), exactly.
  // A path without a route gets 404 "Not Found". Adding a route again replaces it.

  // Fixed bytes with a content type and a status.
  void Serve(const std::string& path, std::string body, std::string contentType = "text/html",
             int status = 200);
  // Any handler. It runs on one of the server's threads.
  void Handle(const std::string& path, Handler handler);
  // A redirect to `location` (absolute, or a path on this server).
  void Redirect(const std::string& path, const std::string& location, int status = 302);
  // Sends `body`, then breaks the connection: with a Content-Length of `announcedLength`
  // (must be larger than the body), or, when `chunked`, in the middle of a chunked body.
  void ServeBroken(const std::string& path, std::string body, std::size_t announcedLength,
                   bool chunked = false);
  // Holds every request to `path`: sends nothing at all (no status line) when
  // `firstBytes` is empty, else a 200 status with a long Content-Length and these bytes,
  // then nothing more. A held request ends (its connection is closed) on ReleaseStalls()
  // or when the server is destroyed.
  void Stall(const std::string& path, std::string firstBytes = {});
  void ReleaseStalls();
  // Number of requests held right now, and a wait for a count.
  int Stalled() const;
  bool WaitForStalled(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // A chunked body of GeneratedByte bytes that comes `piece` bytes at a time, one piece
  // every `every` (zero: as fast as the connection takes them): `pieces` of them, or
  // without end (0) until the client goes away or the server stops.
  void Drip(const std::string& path, std::size_t piece, std::chrono::milliseconds every,
            int pieces = 0);
  // `length` bytes of GeneratedByte(0), GeneratedByte(1), ..., produced in pieces as they
  // are sent, never held whole: for bodies of any size. They begin like a JPEG picture.
  void ServeGenerated(const std::string& path, std::uint64_t length,
                      std::string contentType = "application/octet-stream");
  static char GeneratedByte(std::uint64_t offset);
  static std::string GeneratedBody(std::size_t length);

  // Requests seen so far for a (decoded) path, and in all. Thread-safe.
  int Hits(const std::string& path) const;
  int TotalHits() const;
  // Connections accepted so far.
  int Connections() const;
  // The most requests served at once so far, each counted from the moment it was read
  // until its answer was made (its handler returned).
  int MostAtOnce() const;
  // The raw request target (as sent, not decoded) and the headers of the last request.
  std::string LastTarget() const;
  httplib::Headers LastHeaders() const;
  // The value of one header of the last request ("" when absent); `has` tells which.
  std::string LastHeader(const std::string& name, bool* has = nullptr) const;

 private:
  void Dispatch(const httplib::Request& req, httplib::Response& res);
  // Waits until the stalls are released or the server stops.
  void HoldRequest();

  const ServerOptions m_options;
  std::atomic<int> m_accepted{0};  // connections
  // Its connection threads are made: a test that counts threads starts after them.
  std::atomic<bool> m_queueMade{false};
  std::unique_ptr<httplib::Server> m_server;
  int m_port = 0;
  std::thread m_thread;

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::map<std::string, Handler, std::less<>> m_routes;
  std::map<std::string, int, std::less<>> m_hits;
  int m_totalHits = 0;
  int m_serving = 0;  // requests whose answers are being made
  int m_mostAtOnce = 0;
  std::string m_lastTarget;
  httplib::Headers m_lastHeaders;
  std::uint64_t m_stallGeneration = 0;
  int m_stalled = 0;
  bool m_stopping = false;
};

// A new empty folder under the system's temporary folder, removed with everything in it
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  // The folder (or a path inside it) as UTF-8 and as UTF-16 text, without a trailing '/'.
  std::string Str(std::string_view inside = {}) const;
  std::u16string Wide(std::string_view inside = {}) const;

 private:
  std::filesystem::path m_path;
};

// Whole content of a file ("" when it cannot be read) and a file write helper.
std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, std::string_view bytes);

// Files this process is writing in `dir` right now that have no name of their own yet: an
// unnamed temporary file, or a named one whose name ends in ".part". Counted from the
// process's open descriptors.
int PartFilesBeingWritten(const std::filesystem::path& dir);

// Picture-like bytes of a few hundred, different for every `seed` (a picture's path),
// starting with `magic`: fixture sites serve them, tests compare files with them.
std::string DistinctBytes(std::string_view magic, std::string_view seed);

// A tiny "picture": the JPEG signature followed by `text`.
inline std::string Jpeg(std::string_view text) { return "\xFF\xD8\xFF" + std::string(text); }

}  // namespace pageloom::test
