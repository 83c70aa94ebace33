#include "document/files/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

namespace velmora {

std::string ErrnoMessage(int errnum) {
  char buffer[256];
  // The GNU strerror_r returns the message, which may or may not be `buffer`.
  const char* text = strerror_r(errnum, buffer, sizeof buffer);
  return text ? std::string(text) : "error " + std::to_string(errnum);
}

namespace {

// The process's umask, read without changing it: calling umask() to find
// out would race with other threads creating files.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
  }
  return 022;
}

std::string FollowLinks(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = realpath(path.c_str(), nullptr)) {
      std::string result(resolved);
      std::free(resolved);
      return result;
    }
  }
  return path;
}

// Folder and name of a path; the folder of "name" is ".".
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// After the rename the new content is in place whatever happens here; a
// folder that cannot be synced (some file systems refuse) only makes the
// rename less durable, so its failure is not reported.
void SyncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Open(std::string& error) {
  Discard();
  if (path_.empty()) {
    error = ErrnoMessage(ENOENT);
    return false;
  }
  target_ = FollowLinks(path_);
  auto [folder, name] = SplitPath(target_);
  if (name.empty()) {
    error = ErrnoMessage(EISDIR);
    return false;
  }
  struct stat existing;
  bool exists = stat(target_.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    error = ErrnoMessage(EISDIR);
    return false;
  }
  // The rename would replace a file the user may not write; refuse as a
  // direct write would.
  if (exists && access(target_.c_str(), W_OK) != 0) {
    error = ErrnoMessage(errno);
    return false;
  }

  std::string pattern = (folder == "/" ? "/" : folder + "/") + "." + name + ".XXXXXX";
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoMessage(errno);
    return false;
  }
  tempPath_ = pattern;
  // mkstemp makes the file private (0600); give it the permissions the
  // replaced file had, or those a newly created file would get.
  if (exists && S_ISREG(existing.st_mode)) {
    (void)fchown(fd, existing.st_uid, existing.st_gid);
    (void)fchmod(fd, existing.st_mode & 07777);
  } else {
    (void)fchmod(fd, 0666 & ~CurrentUmask());
  }
  stream_ = fdopen(fd, "wb");
  if (!stream_) {
    int err = errno;
    close(fd);
    Discard();
    error = ErrnoMessage(err);
    return false;
  }
  return true;
}

bool AtomicFile::Commit(std::string& error) {
  if (!stream_) {
    error = ErrnoMessage(EBADF);
    return false;
  }
  int err = 0;
  errno = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_)) err = errno ? errno : EIO;
  if (!err && fsync(fileno(stream_)) != 0) err = errno;
  if (std::fclose(stream_) != 0 && !err) err = errno ? errno : EIO;
  stream_ = nullptr;
  if (!err && rename(tempPath_.c_str(), target_.c_str()) != 0) err = errno;
  if (err) {
    Discard();
    error = ErrnoMessage(err);
    return false;
  }
  tempPath_.clear();
  SyncFolder(SplitPath(target_).first);
  return true;
}

void AtomicFile::Discard() {
  if (stream_) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!tempPath_.empty()) {
    unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

bool WriteFileAtomically(const std::string& path, const std::function<bool(std::FILE*, std::string&)>& write,
                         std::string& error) {
  AtomicFile file(path);
  if (!file.Open(error)) return false;
  std::string reason;
  if (!write(file.Stream(), reason)) {
    file.Discard();
    error = reason.empty() ? ErrnoMessage(EIO) : reason;
    return false;
  }
  return file.Commit(error);
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, std::string& error) {
  return WriteFileAtomically(
      path,
      [&](std::FILE* f, std::string& reason) {
        errno = 0;
        if (size != 0 && std::fwrite(data, 1, size, f) != size) {
          reason = ErrnoMessage(errno ? errno : EIO);
          return false;
        }
        return true;
      },
      error);
}

}  // namespace velmora
