// The command line of pageloom-cli: its options, the addresses it is given (as arguments,
// or one a line from a file or standard input), and its usage text.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/picture_range.h"

namespace pageloom::cli {

struct CliOptions {
  std::optional<std::string> saveFolder;  // --save; nothing: the window's default
  bool followNext = false;                // --follow
  bool autoRename = true;                 // cleared by --no-rename
  std::optional<std::string> cookieFile;  // --cookies
  std::optional<std::string> userAgent;   // --user-agent
  std::optional<std::string> sleep;       // --sleep, as given
  std::vector<std::string> inputFiles;    // --input, in order; "-" is standard input
  bool lastingQueue = false;              // --queue
  bool json = false;                      // --json
  bool saveCbz = false;                   // --cbz
  bool writeMetadata = true;              // --write-metadata, cleared by --no-metadata
  bool pack = false;                      // --pack: the arguments are folders to pack
  bool force = false;                     // --force: download what the record knows too
  bool update = false;                    // --update: check the followed comics
  std::optional<std::string> archive;     // --download-archive: the record's file
  std::optional<std::string> forget;      // --forget: the entry to remove from the record
  std::optional<std::string> recordFrom;  // --record-existing: the folder tree to record
  std::optional<PictureRange> range;      // --range: only these pictures of each task
  bool quiet = false;                     // -q: no progress and no line per task
  bool verbose = false;                   // -v: diagnostics on standard error
  std::vector<std::string> addresses;     // the arguments that are no options
  bool help = false;
  bool version = false;
};

// What a command line asks for, or why it is no valid one.
struct ParsedCommandLine {
  CliOptions options;
  std::string error;  // empty: the options are valid
};

// Reads the arguments after the program name. "--opt VALUE" and "--opt=VALUE" are both
// understood, as are the short forms "-d DIR" and "-dDIR"; "--" ends the options.
// Addresses may be missing here (--input, --queue).
[[nodiscard]] ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// `text` without the blanks (spaces, tabs, CR, LF, VT, FF) around it.
[[nodiscard]] std::string_view Trimmed(std::string_view text);

// The addresses of a list: one a line, surrounding blanks (and a CR) dropped; empty lines
// and lines starting with '#' are skipped.
[[nodiscard]] std::vector<std::string> ReadAddressList(std::istream& in);

// "Usage: ..." with every option, for --help.
[[nodiscard]] std::string UsageText();
// The one line a usage error writes: the problem and where help is.
[[nodiscard]] std::string UsageErrorLine(const std::string& problem);
// "pageloom-cli X.Y.Z.W".
[[nodiscard]] std::string VersionText();

}  // namespace pageloom::cli
