#include "library/cbz_packer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <zip.h>

#include "base/unique_fd.h"
#include "library/task_files.h"

namespace pageloom {

namespace fs = std::filesystem;

namespace {

constexpr char kCommentPrefix[] = "pageloom-source:";
constexpr std::size_t kChunk = 64 * 1024;

struct ZipCloser {
  void operator()(zip_t* zip) const { zip_discard(zip); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

PackResult Result(PackStatus status, const fs::path& archive,
                  PackRefusal refusal = PackRefusal::kNone, std::string detail = {}) {
  return PackResult{status, archive, refusal, 0, std::move(detail)};
}

// Removes part files of this archive whose writers are gone: ".<name>.<pid>-<n>.part"
// and the library's own temporary files behind them.
void RemoveStaleParts(const fs::path& archive) {
  const std::string prefix = PartPrefix(archive);
  std::error_code ec;
  for (fs::directory_iterator it(archive.parent_path(), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
}

bool ReadFull(int fd, char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, out + done, size - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Entry `index` of `zip` is `name`, stored, and holds exactly the bytes of `file` (or of
// `bytes` when no file is given).
bool EntryMatches(zip_t* zip, zip_uint64_t index, const std::string& name, const fs::path* file,
                  const std::string* bytes, std::vector<char>& a, std::vector<char>& b) {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(zip, index, 0, &st) != 0 || st.name == nullptr || name != st.name ||
      st.comp_method != ZIP_CM_STORE)
    return false;
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> entry(zip_fopen_index(zip, index, 0),
                                                          zip_fclose);
  if (!entry) return false;
  const UniqueFd fd(file ? ::open(file->c_str(), O_RDONLY | O_CLOEXEC) : -1);
  if (file && fd.Get() < 0) return false;
  std::uint64_t offset = 0;
  const std::uint64_t total = file ? st.size : bytes->size();
  if (!file && st.size != total) return false;
  for (;;) {
    const zip_int64_t n = zip_fread(entry.get(), a.data(), a.size());
    if (n < 0) return false;  // a damaged entry (its checksum) says so here
    if (n == 0) break;
    const auto got = static_cast<std::size_t>(n);
    if (file) {
      if (!ReadFull(fd.Get(), b.data(), got) || std::memcmp(a.data(), b.data(), got) != 0)
        return false;
    } else if (offset + got > total || std::memcmp(a.data(), bytes->data() + offset, got) != 0) {
      return false;
    }
    offset += got;
  }
  if (offset != total) return false;
  if (file) {  // nothing of the picture may be left over
    char extra;
    if (::read(fd.Get(), &extra, 1) != 0) return false;
  }
  return true;
}

bool Verify(const fs::path& part, const fs::path& folder, const std::vector<PictureFile>& pictures,
            const std::string* comicInfo) {
  int error = 0;
  const ZipHandle zip(zip_open(part.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
  if (!zip) return false;
  const zip_int64_t expected = static_cast<zip_int64_t>(pictures.size()) + (comicInfo ? 1 : 0);
  if (zip_get_num_entries(zip.get(), 0) != expected) return false;
  std::vector<char> a(kChunk);
  std::vector<char> b(kChunk);
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const fs::path file = folder / pictures[i].name;
    if (!EntryMatches(zip.get(), i, pictures[i].name, &file, nullptr, a, b)) return false;
  }
  return !comicInfo ||
         EntryMatches(zip.get(), pictures.size(), kComicInfoFile, nullptr, comicInfo, a, b);
}

// Writes the archive under `part`. False, with nothing left under that name, on failure.
bool WriteArchive(const fs::path& part, const fs::path& folder,
                  const std::vector<PictureFile>& pictures, const std::string* comicInfo,
                  const std::string& sources, std::string& error) {
  int code = 0;
  ZipHandle zip(zip_open(part.c_str(), ZIP_CREATE | ZIP_EXCL, &code));
  if (!zip) {
    error = "cannot create " + part.string();
    return false;
  }
  const auto add = [&](const std::string& name, zip_source_t* data) {
    if (data == nullptr) return false;
    const zip_int64_t index =
        zip_file_add(zip.get(), name.c_str(), data, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) {
      zip_source_free(data);
      return false;
    }
    return zip_set_file_compression(zip.get(), static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) ==
           0;
  };
  for (const PictureFile& picture : pictures) {
    const std::string path = (folder / picture.name).string();
    if (!add(picture.name, zip_source_file(zip.get(), path.c_str(), 0, -1))) {
      error = zip_strerror(zip.get());
      return false;
    }
  }
  if (comicInfo &&
      !add(kComicInfoFile, zip_source_buffer(zip.get(), comicInfo->data(), comicInfo->size(), 0))) {
    error = zip_strerror(zip.get());
    return false;
  }
  const std::string comment = kCommentPrefix + sources;
  if (comment.size() < 0xFFFF)
    (void)zip_set_archive_comment(zip.get(), comment.data(),
                                  static_cast<zip_uint16_t>(comment.size()));
  if (zip_close(zip.get()) != 0) {
    error = zip_strerror(zip.get());
    return false;  // the handle discards what was begun
  }
  (void)zip.release();
  // Flushed before it is checked and named.
  const UniqueFd fd(::open(part.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0 || ::fsync(fd.Get()) != 0) {
    error = "cannot flush " + part.string();
    return false;
  }
  return true;
}

// Removes what was packed, the metadata files and the source mark, then the folder if
// nothing else is left in it.
void RemovePacked(const fs::path& folder, const std::vector<PictureFile>& pictures) {
  std::error_code ec;
  for (const PictureFile& picture : pictures) fs::remove(folder / picture.name, ec);
  fs::remove(folder / kComicInfoFile, ec);
  fs::remove(folder / kInfoJsonFile, ec);
  fs::remove(folder / ".pageloom-source", ec);
  fs::remove(folder, ec);  // only when empty
  SyncFolder(folder.parent_path());
}

}  // namespace

fs::path ArchivePathFor(const fs::path& folder) {
  fs::path path = folder;
  if (!path.has_filename()) path = path.parent_path();
  // A name of 255 bytes still gets its extension: the name gives way.
  return path.parent_path() / (CutUtf8(path.filename().string(), 251) + ".cbz");
}

std::vector<std::string> ArchiveSources(const fs::path& archive) {
  int error = 0;
  const ZipHandle zip(zip_open(archive.c_str(), ZIP_RDONLY, &error));
  if (!zip) return {};
  int length = 0;
  const char* comment = zip_get_archive_comment(zip.get(), &length, ZIP_FL_ENC_RAW);
  const std::size_t prefix = std::strlen(kCommentPrefix);
  if (comment == nullptr || length < static_cast<int>(prefix) ||
      std::memcmp(comment, kCommentPrefix, prefix) != 0)
    return {};
  const std::string text(comment + prefix, static_cast<std::size_t>(length) - prefix);
  std::vector<std::string> sources;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    if (end > start || sources.empty()) sources.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return sources;
}

std::optional<std::string> ArchiveSource(const fs::path& archive) {
  std::vector<std::string> sources = ArchiveSources(archive);
  if (sources.empty()) return std::nullopt;
  return std::move(sources.front());
}

bool ArchiveOfOtherSource(const fs::path& folder, const std::string& source) {
  const fs::path archive = ArchivePathFor(folder);
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(archive, ec))) return false;
  const std::vector<std::string> named = ArchiveSources(archive);
  return std::find(named.begin(), named.end(), source) == named.end();
}

PackResult PackFolder(const fs::path& folder, const std::vector<std::string>& sources,
                      const std::string* comicInfo) {
  const fs::path archive = ArchivePathFor(folder);
  if (sources.empty()) return Result(PackStatus::kRefused, archive, PackRefusal::kNotATaskFolder);
  const auto existing = [&]() -> std::optional<PackResult> {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(archive, ec))) return std::nullopt;
    for (const std::string& named : ArchiveSources(archive))
      if (std::find(sources.begin(), sources.end(), named) != sources.end())
        return Result(PackStatus::kAlreadyThere, archive);
    return Result(PackStatus::kTakenByOther, archive, PackRefusal::kTakenByOther);
  };
  if (auto there = existing()) return *there;

  // One packer of a folder at a time, across programs: the source mark is locked.
  const UniqueFd mark(
      ::open((folder / ".pageloom-source").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (mark.Get() < 0) return Result(PackStatus::kRefused, archive, PackRefusal::kNotATaskFolder);
  if (::flock(mark.Get(), LOCK_EX | LOCK_NB) != 0)
    return Result(PackStatus::kBusy, archive, PackRefusal::kBusy);
  RemoveStaleParts(archive);

  const std::vector<PictureFile> pictures = PicturesInFolder(folder, false);
  if (pictures.empty()) return Result(PackStatus::kRefused, archive, PackRefusal::kNoPictures);
  const fs::path part = PartNameFor(archive);
  std::string error;
  // The archive names every address of its task, the one it was added as first.
  std::string names;
  for (const std::string& address : sources) names += (names.empty() ? "" : "\n") + address;
  if (!WriteArchive(part, folder, pictures, comicInfo, names, error) ||
      !Verify(part, folder, pictures, comicInfo)) {
    std::error_code ec;
    fs::remove(part, ec);
    return Result(PackStatus::kFailed, archive, PackRefusal::kWriteFailed, error);
  }
  // Named without ever replacing a file: link fails when the name is taken meanwhile.
  const bool named = ::link(part.c_str(), archive.c_str()) == 0;
  std::error_code ec;
  fs::remove(part, ec);
  if (!named) {
    if (auto there = existing()) return *there;
    return Result(PackStatus::kFailed, archive, PackRefusal::kNotNamed);
  }
  SyncFolder(archive.parent_path());
  RemovePacked(folder, pictures);
  return Result(PackStatus::kPacked, archive);
}

}  // namespace pageloom
