// Replays fuzz inputs without libFuzzer: every file named on the command line,
// and every file in every folder named, goes once through the fuzz target.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg = argv[i];
    if (std::filesystem::is_directory(arg)) {
      for (const auto& item : std::filesystem::directory_iterator(arg)) {
        if (item.is_regular_file()) ok = Replay(item.path()) && ok, ++replayed;
      }
    } else {
      ok = Replay(arg) && ok, ++replayed;
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  // An empty corpus would make the test pass without testing anything.
  return ok && replayed > 0 ? 0 : 1;
}
