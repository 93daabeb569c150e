// Runs a fuzz target's LLVMFuzzerTestOneInput over every file of its corpus
// directories (and over files named directly), as libFuzzer would replay
// them; without such arguments over the target's committed corpus. Options
// (arguments starting with '-', such as a test runner's) are ignored. Fails
// when nothing was run, so that a missing corpus is noticed.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool RunFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  // An input of its own allocation, exactly its size, as libFuzzer hands it.
  std::vector<std::uint8_t> copy(bytes);
  LLVMFuzzerTestOneInput(copy.data(), copy.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  std::size_t runs = 0;
  std::vector<std::filesystem::path> paths;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') paths.emplace_back(argv[i]);
  }
#ifdef ORVEL_FUZZ_CORPUS
  if (paths.empty()) paths.emplace_back(ORVEL_FUZZ_CORPUS);
#endif
  for (const std::filesystem::path& arg : paths) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
    } else {
      files.push_back(arg);
    }
    for (const auto& file : files) {
      if (!RunFile(file)) return 1;
      ++runs;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu inputs run in %.2f s\n", runs, seconds);
  if (runs == 0) {
    std::fprintf(stderr, "no inputs: give corpus directories or files\n");
    return 1;
  }
  return 0;
}
