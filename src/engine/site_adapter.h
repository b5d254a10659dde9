// A site as the rest of the program sees it: which addresses are its own, the first page
// or chapter an address stands for, and what one of its pages says (the task to create,
// its title, the next address to follow). An adapter reads pages into plain values; it
// registers nothing, shows nothing and writes into no caller's buffer. Making the folder,
// asking the user and registering the task are its caller's.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/comic_metadata.h"
#include "engine/task.h"
#include "engine/user_prompt.h"
#include "net/failure_reason.h"
#include "net/page_buffer.h"

namespace pageloom {

class Session;
struct RetryPolicy;

// What reading a site's pages needs: the session to fetch with (its switch cancels the
// reading), a page buffer that belongs to the calling thread, and how a fetch that fails
// for a passing reason is tried again.
struct PageReader {
  Session& session;
  PageBuffer& page;
  const RetryPolicy& retry;
  // What a page read on the way to the first page told about the gallery (the site's
  // ReadPage takes it over).
  ComicMetadata found = {};
};

// A task as its page describes it.
struct TaskDraft {
  std::u16string address;       // the address the task starts from
  std::string title;            // UTF-8 page text; a '\\' nests folders (comic\chapter)
  int pictureCount = 0;         // as the page announces it (0 when it announces none)
  ComicMetadata metadata = {};  // what the pages tell about the gallery or chapter
};

// What one page gave.
struct PageReading {
  std::optional<TaskDraft> task;         // none: the page makes no task
  std::optional<std::u16string> next;    // the next address of a chain, when the page links one
  std::optional<Message> message;        // for the user
  std::optional<FailureReason> failure;  // why the page made no task
};

class SiteAdapter {
 public:
  virtual ~SiteAdapter() = default;

  // The number its tasks carry (Task::GetSiteKind); unique among the registered sites.
  [[nodiscard]] virtual int Kind() const = 0;
  // Its short name, as the lasting queue keeps it and messages name it ("EH").
  [[nodiscard]] virtual std::u16string Name() const = 0;
  // What its worker may work ahead while a step stores its picture.
  enum class Ahead { kNothing, kNextPage, kNextPicture };
  [[nodiscard]] virtual Ahead WorksAhead() const { return Ahead::kNothing; }
  // Whether `address` belongs to this site.
  [[nodiscard]] virtual bool Recognises(std::u16string_view address) const = 0;
  // Whether a reading's next address is to be followed when the user asks for chains.
  [[nodiscard]] virtual bool FollowsChains() const { return false; }

  // The address of the first page (or chapter) that `address` stands for; `address`
  // itself when it names one already. Nothing when the page it names lacks the link
  // (the caller then goes on with the address as typed).
  [[nodiscard]] virtual std::optional<std::u16string> FirstPage(std::u16string_view address,
                                                                PageReader& reader) const = 0;
  // Reads the page at `address`.
  [[nodiscard]] virtual PageReading ReadPage(std::u16string_view address,
                                             PageReader& reader) const = 0;
  // A new, empty task of this site, to be filled from a draft (or from a saved queue).
  [[nodiscard]] virtual std::shared_ptr<Task> NewTask() const = 0;
  // A short name of the gallery or chapter at `address`, to tell two tasks of one title
  // apart: by default the number in the address's last part (without its extension),
  // or a hash of the address when it holds none.
  [[nodiscard]] virtual std::u16string TaskTag(std::u16string_view address) const;
  // The site's own identity of the gallery or chapter at `address`, the same for every
  // form of its address (main or mirror host, another token, a query): the key under which
  // the download record keeps it. Nothing when the address names none. By default the
  // address without its query, fragment and trailing '/'.
  [[nodiscard]] virtual std::optional<std::u16string> Identity(std::u16string_view address) const;
};

// The last run of digits in the last part of `address`'s path (before its extension), or
// nothing: the number most sites name a page by.
[[nodiscard]] std::optional<std::u16string> LastPartNumber(std::u16string_view address);

}  // namespace pageloom
