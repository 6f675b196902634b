#include "platform/files.h"
#include "platform/c_locale.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

namespace kestrim {

bool read_file(const std::string& path, std::vector<std::uint8_t>& out, std::size_t max_bytes) {
  out.clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::uint8_t buf[65536];
  bool ok = true;
  for (;;) {
    std::size_t n = std::fread(buf, 1, sizeof buf, f);
    if (n == 0) break;
    if (out.size() + n > max_bytes) {
      ok = false;
      break;
    }
    out.insert(out.end(), buf, buf + n);
  }
  if (std::ferror(f)) ok = false;
  std::fclose(f);
  if (!ok) out.clear();
  return ok;
}

namespace {

// Temporaries are ".<up to 32 bytes of the name>~<8 hex digits>.tmp": at
// most 47 bytes, whatever the length of the target's name.
constexpr std::size_t kTempPrefixBytes = 32;
constexpr int kStaleTempSeconds = 600;

std::string temp_prefix(const std::string& path) {
  return "." + base_name(path).substr(0, kTempPrefixBytes) + "~";
}

bool is_temp_of(const std::string& entry, const std::string& prefix) {
  if (entry.size() != prefix.size() + 12 || entry.compare(0, prefix.size(), prefix) != 0) return false;
  for (std::size_t i = prefix.size(); i < prefix.size() + 8; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(entry[i]))) return false;
  return entry.compare(prefix.size() + 8, 4, ".tmp") == 0;
}

// Removes temporaries of this target's pattern that are older than a
// write could take: a run killed between create and rename left them.
void remove_stale_temporaries(const std::string& path) {
  const std::string dir = dir_name(path);
  const std::string prefix = temp_prefix(path);
  const std::time_t now = std::time(nullptr);
  for (const std::string& entry : list_directory(dir.empty() ? "." : dir)) {
    if (!is_temp_of(entry, prefix)) continue;
    const std::string full = dir.empty() ? entry : join_path(dir, entry);
    struct stat st;
    if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime > kStaleTempSeconds)
      ::unlink(full.c_str());
  }
}

int injected(WriteFaults* faults, const std::string& path, WriteStep step) {
  return faults ? faults->before(path, step) : 0;
}

}  // namespace

std::string temporary_name_for(const std::string& path, unsigned salt) {
  char suffix[32];
  c_snprintf(suffix, sizeof suffix, "%08x.tmp", salt);
  std::string dir = dir_name(path);
  std::string name = temp_prefix(path) + suffix;
  return dir.empty() ? name : join_path(dir, name);
}

bool write_file_atomic(const std::string& path, const void* data, std::size_t size,
                       std::string* error, WriteFaults* faults) {
  static thread_local std::mt19937 rng{std::random_device{}()};
  remove_stale_temporaries(path);
  std::string tmp = temporary_name_for(path, static_cast<unsigned>(rng()));
  auto fail = [&](int code, int fd) {
    if (error) *error = std::strerror(code);
    if (fd >= 0) ::close(fd);
    ::unlink(tmp.c_str());
    return false;
  };
  if (int code = injected(faults, path, WriteStep::kCreate)) {
    if (error) *error = std::strerror(code);
    return false;
  }
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  if (int code = injected(faults, path, WriteStep::kWrite)) return fail(code, fd);
  const char* p = static_cast<const char*>(data);
  std::size_t left = size;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno, fd);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  // Keep the permissions of the file being replaced.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  if (int code = injected(faults, path, WriteStep::kSync)) return fail(code, fd);
  if (::fsync(fd) != 0) return fail(errno, fd);
  if (::close(fd) != 0) return fail(errno, -1);
  if (int code = injected(faults, path, WriteStep::kRename)) return fail(code, -1);
  if (::rename(tmp.c_str(), path.c_str()) != 0) return fail(errno, -1);
  return true;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool directory_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long long file_size(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool same_file(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool make_directories(const std::string& path) {
  if (path.empty()) return false;
  if (directory_exists(path)) return true;
  std::string parent = dir_name(path);
  if (!parent.empty() && parent != path && !directory_exists(parent)) {
    if (!make_directories(parent)) return false;
  }
  return ::mkdir(path.c_str(), 0755) == 0 || directory_exists(path);
}

bool stays_inside(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string join_path(std::string_view dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  std::string out(dir);
  if (out.back() != '/') out += '/';
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  out += name;
  return out;
}

std::string base_name(std::string_view path) {
  auto pos = path.find_last_of('/');
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string dir_name(std::string_view path) {
  auto pos = path.find_last_of('/');
  if (pos == std::string_view::npos) return {};
  if (pos == 0) return "/";
  return std::string(path.substr(0, pos));
}

std::string extension_of(std::string_view path) {
  std::string base = base_name(path);
  auto pos = base.find_last_of('.');
  return pos == std::string::npos ? std::string() : base.substr(pos + 1);
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string to_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string to_upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool wildcard_match(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                  std::tolower(static_cast<unsigned char>(name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> list_directory(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return out;
  while (struct dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    out.emplace_back(e->d_name);
  }
  ::closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

std::string resolve_path(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) == 0) return path;
  std::string parent = dir_name(path);
  std::string name = base_name(path);
  std::string resolved_parent = parent;
  if (!parent.empty() && parent != "/" && ::stat(parent.c_str(), &st) != 0)
    resolved_parent = resolve_path(parent);
  std::string candidate = resolved_parent.empty() ? name : join_path(resolved_parent, name);
  if (::stat(candidate.c_str(), &st) == 0) return candidate;
  for (const std::string& entry : list_directory(resolved_parent.empty() ? "." : resolved_parent)) {
    if (iequals(entry, name))
      return resolved_parent.empty() ? entry : join_path(resolved_parent, entry);
  }
  return path;
}

bool is_network_filesystem(const std::string& path) {
  struct statfs fs;
  if (::statfs(path.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE (sshfs and friends)
    case 0x564c:        // NCP
    case 0x73757245UL:  // Coda
    case 0x6B414653UL:  // AFS
      return true;
    default:
      return false;
  }
}

}  // namespace kestrim
