// Replacing a file so that readers, and the disk after a power cut, see
// either the old content or the new one, never a mixture: the content goes
// to a hidden temporary file in the destination's folder, is flushed to the
// disk, and only then renamed over the destination. Nothing here uses Qt,
// so the picture writers, the settings file and the recent list share it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace velmora {

class AtomicFile {
 public:
  // `path` is the file to replace. A symbolic link is followed, so the
  // file it points at is replaced and the link stays.
  explicit AtomicFile(std::string path);
  // Removes the temporary file unless Commit succeeded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file ("." + name + a unique suffix, in the same
  // folder). On failure `error` holds the reason (the system's message).
  bool Open(std::string& error);
  // The temporary file while open, nullptr otherwise.
  std::FILE* Stream() const { return stream_; }
  // Flushes, syncs and renames over the destination, then syncs the folder.
  // On failure the temporary file is removed, the destination is untouched
  // and `error` holds the reason.
  bool Commit(std::string& error);
  // Removes the temporary file; the destination is untouched.
  void Discard();

  // The destination after following symbolic links.
  const std::string& Target() const { return target_; }
  // The temporary file's path while open (for tests and messages).
  const std::string& TemporaryPath() const { return tempPath_; }

 private:
  std::string path_;
  std::string target_;
  std::string tempPath_;
  std::FILE* stream_ = nullptr;
};

// Runs `write` on a fresh temporary file and commits it when `write`
// returns true. `write` reports its own failures through its second
// argument; either way `error` receives the reason on failure.
bool WriteFileAtomically(const std::string& path, const std::function<bool(std::FILE*, std::string&)>& write,
                         std::string& error);
// The whole content at once.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, std::string& error);

// The system's message for an errno value, thread-safe.
std::string ErrnoMessage(int errnum);

}  // namespace velmora
