// Suggested-schema files: encoded whole in memory, written with one
// create-or-truncate open; read whole, checked as UTF-8, then decoded.
#include "persistence/schema_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

Status write_whole_file(const std::string& path, std::string_view bytes) {
  NOLT_TRY(check_path(path));
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return os_error(errno);
  FileDescriptor file(fd);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count = ::write(file.get(), bytes.data() + written, bytes.size() - written);
    if (count < 0) {
      if (errno == EINTR) continue;
      return os_error(errno);
    }
    if (count == 0) return CoreError::os_error("failed to write whole buffer");
    written += static_cast<std::size_t>(count);
  }
  // close() may report a deferred write error (NFS, quota); EINTR on Linux
  // still releases the descriptor and must not be retried.
  if (file.close() != 0 && errno != EINTR) return os_error(errno);
  return Status::ok_status();
}

Result<std::string> read_whole_file(const std::string& path) {
  NOLT_TRY(check_path(path));
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return os_error(errno);
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
    if (count < 0) {
      if (errno == EINTR) continue;
      return os_error(errno);
    }
    if (count == 0) break;
  }
  return content;
}

}  // namespace

Status save_suggested_schema(const SuggestedDatasetSchema& schema, const std::string& path) {
  for (const SuggestedColumnSchema& column : schema.columns) {
    const auto& range = column.constraints.numeric_range;
    if (!range) continue;
    if ((range->min && !std::isfinite(*range->min)) || (range->max && !std::isfinite(*range->max))) {
      return CoreError::value_error(
          str_cat("numeric range for column `", column.name, "` contains a non-finite value"));
    }
  }
  const std::string document = encode_schema_document(schema);
  return write_whole_file(path, document);
}

Result<SuggestedDatasetSchema> load_suggested_schema(const std::string& path) {
  NOLT_ASSIGN_OR_RETURN(std::string content, read_whole_file(path));
  if (!is_valid_utf8(content)) return CoreError::os_error("stream did not contain valid UTF-8");
  NOLT_ASSIGN_OR_RETURN(PersistedSuggestedSchema document, decode_schema_document(content));
  if (document.format_version != kSuggestedSchemaFormatVersion) {
    return CoreError::value_error(
        str_cat("Unsupported suggested schema format version: ", document.format_version));
  }
  return std::move(document.schema);
}

}  // namespace nolt
