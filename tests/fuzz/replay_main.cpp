// Without libFuzzer: feeds every file of the given directories (or the
// given files) to the harness once, so the committed corpus is replayed by
// the ordinary test suite. Fails when it found nothing to replay.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; i++) {
    std::error_code ec;
    if (fs::is_directory(argv[i], ec)) {
      for (const auto &entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else if (fs::is_regular_file(argv[i], ec)) {
      files.push_back(argv[i]);
    } else {
      fprintf(stderr, "%s: no such file or directory\n", argv[i]);
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path &f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the file's size, as libFuzzer hands it over.
    // An empty input still comes with a valid address.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    const size_t size = data.size();
    data.reserve(1);
    fprintf(stderr, "replay %s (%zu bytes)\n", f.c_str(), size);
    LLVMFuzzerTestOneInput(data.data(), size);
  }
  printf("replayed %zu inputs\n", files.size());
  return files.empty() ? 1 : 0;
}
