// Without libFuzzer: runs a fuzz target over files and folders of inputs, so
// the corpora and the regression inputs replay in every test build.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::size_t runs = 0;
  for (int a = 1; a < argc; ++a) {
    std::vector<std::filesystem::path> inputs;
    const std::filesystem::path root(argv[a]);
    if (!std::filesystem::exists(root)) {
      std::fprintf(stderr, "no such input: %s\n", argv[a]);
      return 1;
    }
    if (std::filesystem::is_directory(root)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else {
      inputs.push_back(root);
    }
    for (const auto& input : inputs) {
      std::ifstream in(input, std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++runs;
    }
  }
  std::printf("replayed %zu inputs\n", runs);
  return 0;
}
