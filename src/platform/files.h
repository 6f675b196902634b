// File-system helpers shared by every subsystem.
//
// Whole-file replacement always goes through write_file_atomic: the bytes are
// written to a temporary file in the destination's folder, flushed to disk and
// renamed over the old file, so that a crash or a full disk never leaves a
// half-written file in place of a good one.
//
// Users bring files over from Windows, where names ignore case; resolve_path
// finds "det_01.CAL" when "Det_01.cal" was asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrim {

// Reads a whole file. Fails (false) when it cannot be opened or is larger
// than `max_bytes`.
bool read_file(const std::string& path, std::vector<std::uint8_t>& out,
               std::size_t max_bytes = 256u << 20);

// The steps of writing a file, where a test can make the write fail.
enum class WriteStep { kCreate, kWrite, kSync, kRename, kAppend };

// Asked before each step of writing `path`; a non-zero errno value (ENOSPC,
// EIO, ...) makes that step fail with it. A session carries one in its
// Paths (tests do; the program never does).
class WriteFaults {
 public:
  virtual ~WriteFaults() = default;
  virtual int before(const std::string& path, WriteStep step) = 0;
};

// Replaces (or creates) `path` with `data` through a temporary file in the
// same folder and a rename. On failure the old file, if any, is untouched
// and `error` says why. Temporaries that a killed run left beside `path`
// are removed once they are old.
bool write_file_atomic(const std::string& path, const void* data, std::size_t size,
                       std::string* error = nullptr, WriteFaults* faults = nullptr);
inline bool write_file_atomic(const std::string& path, const std::vector<std::uint8_t>& data,
                              std::string* error = nullptr, WriteFaults* faults = nullptr) {
  return write_file_atomic(path, data.data(), data.size(), error, faults);
}
inline bool write_text_atomic(const std::string& path, std::string_view text,
                              std::string* error = nullptr, WriteFaults* faults = nullptr) {
  return write_file_atomic(path, text.data(), text.size(), error, faults);
}

// The name of the temporary that write_file_atomic uses for `path` with the
// random value `salt` (short enough for any target name that fits).
std::string temporary_name_for(const std::string& path, unsigned salt);

bool file_exists(const std::string& path);       // a regular file
bool directory_exists(const std::string& path);
long long file_size(const std::string& path);    // -1 when missing
bool remove_file(const std::string& path);
// True when both paths name one existing file (the same device and inode).
bool same_file(const std::string& a, const std::string& b);
bool make_directories(const std::string& path);

// True for a relative name that stays inside the folder it is joined to:
// not empty, not absolute, no ".." component and no NUL. Names stored in
// settings files must pass before they are used.
bool stays_inside(std::string_view name);

// Joins a directory and a name with one '/' between them.
std::string join_path(std::string_view dir, std::string_view name);
// Everything after the last '/', and everything before it ("" when none).
std::string base_name(std::string_view path);
std::string dir_name(std::string_view path);
// The text after the last '.' of the base name ("" when none).
std::string extension_of(std::string_view path);

// Returns `path` when it exists as written; otherwise the same path with
// each component that does not exist looked up ignoring case in its folder.
// Returns `path` unchanged when nothing matches.
std::string resolve_path(const std::string& path);

// Names of the entries of a directory (no "." or ".."), sorted; empty on failure.
std::vector<std::string> list_directory(const std::string& dir);

// True for network file systems (NFS, SMB/CIFS, sshfs and other FUSE mounts).
bool is_network_filesystem(const std::string& path);

// Case-insensitive ASCII comparison and lower-casing.
bool iequals(std::string_view a, std::string_view b);
std::string to_lower(std::string_view s);
std::string to_upper(std::string_view s);
// Shell-style pattern match ("*.dat", "?"), ignoring case.
bool wildcard_match(std::string_view pattern, std::string_view name);

}  // namespace kestrim
