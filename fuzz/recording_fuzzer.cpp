// The recording reader on arbitrary bytes: it opens or refuses them with a reason, and reads
// what it opened to the end, never past what it said it holds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/RecordingSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The bytes as a file that lives in memory only, reached by path like any recording.
  const int fd = memfd_create("recording", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  lseek(fd, 0, SEEK_SET);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  std::string note;
  auto opened = platform::openRecording(path, note);
  if (!opened) {
    if (opened.message().empty()) std::abort();  // a refusal always says why
  } else {
    auto& recording = *opened;
    std::vector<std::int16_t> block(4096);
    std::uint64_t total = 0;
    while (const std::size_t got = recording->read(block.data(), block.size())) {
      if (got > block.size()) std::abort();
      total += got;
    }
    if (recording->error().empty() && recording->length() && total != *recording->length()) {
      std::abort();  // a clean end holds exactly the samples announced
    }
  }
  close(fd);
  return 0;
}
