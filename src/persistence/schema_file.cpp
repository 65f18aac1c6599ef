// Suggested-schema files: encoded whole in memory and put in place whole
// (a temporary file renamed over the target); read whole, checked as UTF-8,
// then decoded.
#include "persistence/schema_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "common/utf8.h"
#include "persistence/document.h"

namespace nolt {
namespace {

// GNU strerror_r may return a static string instead of filling the buffer;
// the XSI one returns an int. Either result picks the text.
[[maybe_unused]] const char* error_text(const char* returned, const char*) { return returned; }
[[maybe_unused]] const char* error_text(int, const char* buffer) { return buffer; }

// The platform's description of an OS error, as "<text> (os error N)".
std::string os_error_text(int code) {
  char buffer[256];
  buffer[0] = '\0';
  const char* text = error_text(strerror_r(code, buffer, sizeof buffer), buffer);
  return str_cat(text, " (os error ", code, ")");
}

CoreError os_error(int code) { return CoreError::os_error(os_error_text(code)); }

// open() would silently cut a path at an embedded NUL and use another file.
Status check_path(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    return CoreError::os_error("file name contained an unexpected NUL byte");
  }
  return Status::ok_status();
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports a failure of the close itself.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Opens with `flags`, retrying an open that a signal interrupted. For opens
// that cannot wait (regular files, O_NONBLOCK).
int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd = -1;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens with `flags`, failing with the OS error. An open may wait (a pipe
// waits for its other end, a network file system for its server): when a
// signal cuts the wait short, the interrupt decides whether to go on waiting.
Result<int> open_interruptible(const std::string& path, int flags, mode_t mode, const ExecutionContext& context) {
  while (true) {
    const int fd = ::open(path.c_str(), flags, mode);
    if (fd >= 0) return fd;
    if (errno != EINTR) return os_error(errno);
    NOLT_TRY(context.check());
  }
}

// Writes every byte to an open file and closes it, reporting a failing close.
// A write that a signal cuts short asks the interrupt before going on.
Status write_all_and_close(FileDescriptor& file, std::string_view bytes, bool sync, const ExecutionContext& context) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count = ::write(file.get(), bytes.data() + written, bytes.size() - written);
    if (count < 0) {
      if (errno != EINTR) return os_error(errno);
      NOLT_TRY(context.check());
      continue;
    }
    if (count == 0) return CoreError::os_error("failed to write whole buffer");
    written += static_cast<std::size_t>(count);
  }
  if (sync && ::fsync(file.get()) != 0 && errno != EINVAL) return os_error(errno);
  // close() may report a deferred write error (NFS, quota); EINTR on Linux
  // still releases the descriptor and must not be retried.
  if (file.close() != 0 && errno != EINTR) return os_error(errno);
  return Status::ok_status();
}

// The old way, kept where a replacement cannot be made: create or truncate
// the target itself and write into it.
Status write_in_place(const std::string& path, std::string_view bytes, const ExecutionContext& context) {
  NOLT_ASSIGN_OR_RETURN(const int fd, open_interruptible(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666, context));
  FileDescriptor file(fd);
  return write_all_and_close(file, bytes, false, context);
}

// The folder part of a path ("." for a bare name).
std::string folder_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A fresh file beside the target, named so that no other save picks it:
// created exclusively with the mode a new target would get (0666 less the umask).
struct TemporaryFile {
  std::string path;
  int fd = -1;
};

TemporaryFile create_temporary_beside(const std::string& folder) {
  static std::atomic<std::uint64_t> counter{0};
  std::random_device entropy;
  TemporaryFile temporary;
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::uint64_t tag = (static_cast<std::uint64_t>(entropy()) << 32) ^ entropy() ^ counter.fetch_add(1);
    char name[64];
    std::snprintf(name, sizeof name, "/.schema-%d-%016llx.tmp", static_cast<int>(::getpid()),
                  static_cast<unsigned long long>(tag));
    temporary.path = folder + name;
    temporary.fd = open_retrying(temporary.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (temporary.fd >= 0 || errno != EEXIST) return temporary;
  }
  return temporary;
}

// Best effort: a crash right after the rename still finds the new entry.
void sync_folder(const std::string& folder) {
  const int fd = open_retrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Replaces the file at `path` with `bytes` so that it is either the old file
// or the whole new one, never a fragment: the document goes to a temporary
// file in the target's folder, is flushed to disk, and is renamed over the
// target. Failures give the messages a direct write would give (a missing
// folder, a directory as target, no permission, ...) and leave the target
// untouched. A symbolic link is written through to its target; the target
// keeps its permission bits and owner. Targets that are not regular files
// (devices, pipes), dangling links, and targets whose folder refuses a new
// file while the target itself is writable are written in place.
Status write_whole_file(const std::string& path, std::string_view bytes, const ExecutionContext& context) {
  NOLT_TRY(check_path(path));
  // Opening the target for writing, without creating or truncating it, meets
  // every refusal a direct write meets, with the same error.
  const int probe_fd = open_retrying(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (probe_fd < 0 && errno != ENOENT) {
    // A pipe without a reader refuses a non-blocking open; a blocking write
    // to it is what a direct write does.
    if (errno == ENXIO) return write_in_place(path, bytes, context);
    return os_error(errno);
  }
  struct stat target {};
  std::string target_path = path;
  if (probe_fd >= 0) {
    FileDescriptor probe(probe_fd);
    if (::fstat(probe.get(), &target) != 0) return os_error(errno);
    if (!S_ISREG(target.st_mode)) {
      probe.close();
      return write_in_place(path, bytes, context);
    }
    // Through symbolic links to the file they name.
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
      probe.close();
      return write_in_place(path, bytes, context);
    }
    target_path = resolved;
  } else {
    struct stat link {};
    // A dangling link: the direct write creates the file it names.
    if (::lstat(path.c_str(), &link) == 0) return write_in_place(path, bytes, context);
  }
  const bool exists = probe_fd >= 0;
  const std::string folder = folder_of(target_path);
  TemporaryFile temporary = create_temporary_beside(folder);
  if (temporary.fd < 0) {
    const int error = errno;
    // A folder that takes no new file, over a target that may be written.
    if (exists && (error == EACCES || error == EPERM)) return write_in_place(path, bytes, context);
    return os_error(error);
  }
  FileDescriptor file(temporary.fd);
  Status written = Status::ok_status();
  if (exists) {
    if (::fchmod(file.get(), target.st_mode & 07777) != 0) written = os_error(errno);
    if (written.ok() && (target.st_uid != ::geteuid() || target.st_gid != ::getegid()) &&
        ::fchown(file.get(), target.st_uid, target.st_gid) != 0) {
      // The replacement could not keep the owner: write in place instead.
      file.close();
      ::unlink(temporary.path.c_str());
      return write_in_place(path, bytes, context);
    }
  }
  if (written.ok()) written = write_all_and_close(file, bytes, true, context);
  if (written.ok() && ::rename(temporary.path.c_str(), target_path.c_str()) != 0) written = os_error(errno);
  if (!written.ok()) {
    ::unlink(temporary.path.c_str());
    return written;
  }
  sync_folder(folder);
  return Status::ok_status();
}

// Reads to the end. Opening a pipe waits for a writer and reading it waits for
// data: a signal cuts either wait short, and the interrupt decides whether to
// go on. The interrupt is also asked after every read, so a file that never
// ends (/dev/zero, an endless pipe) can be stopped.
Result<std::string> read_whole_file(const std::string& path, const ExecutionContext& context) {
  NOLT_TRY(check_path(path));
  NOLT_ASSIGN_OR_RETURN(const int fd, open_interruptible(path, O_RDONLY | O_CLOEXEC, 0, context));
  FileDescriptor file(fd);
  std::string content;
  struct stat info {};
  if (::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    content.reserve(static_cast<std::size_t>(info.st_size));
  }
  char chunk[16384];
  while (true) {
    // Read straight into spare capacity when there is room, else via a chunk.
    const std::size_t spare = content.capacity() - content.size();
    ssize_t count = 0;
    if (spare > 0) {
      const std::size_t old_size = content.size();
      content.resize(content.capacity());
      count = ::read(file.get(), content.data() + old_size, spare);
      content.resize(old_size + static_cast<std::size_t>(count > 0 ? count : 0));
    } else {
      count = ::read(file.get(), chunk, sizeof chunk);
      if (count > 0) content.append(chunk, static_cast<std::size_t>(count));
    }
    if (count < 0 && errno != EINTR) return os_error(errno);
    if (count == 0) break;
    NOLT_TRY(context.check());
  }
  return content;
}

}  // namespace

Status save_suggested_schema(const SuggestedDatasetSchema& schema, const std::string& path,
                             const ExecutionContext& context) {
  for (const SuggestedColumnSchema& column : schema.columns) {
    const auto& range = column.constraints.numeric_range;
    if (!range) continue;
    if ((range->min && !std::isfinite(*range->min)) || (range->max && !std::isfinite(*range->max))) {
      return CoreError::value_error(
          str_cat("numeric range for column `", column.name, "` contains a non-finite value"));
    }
  }
  const std::string document = encode_schema_document(schema);
  return write_whole_file(path, document, context);
}

Result<SuggestedDatasetSchema> load_suggested_schema(const std::string& path, const ExecutionContext& context) {
  NOLT_ASSIGN_OR_RETURN(std::string content, read_whole_file(path, context));
  if (!is_valid_utf8(content)) return CoreError::os_error("stream did not contain valid UTF-8");
  NOLT_ASSIGN_OR_RETURN(PersistedSuggestedSchema document, decode_schema_document(content));
  if (document.format_version != kSuggestedSchemaFormatVersion) {
    return CoreError::value_error(
        str_cat("Unsupported suggested schema format version: ", document.format_version));
  }
  return std::move(document.schema);
}

}  // namespace nolt
