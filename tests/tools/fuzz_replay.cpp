// A main for a fuzz target built without the fuzzer: feeds it each file named, and each file
// of each folder named, in the order given, so that the target runs under a tool that cannot
// run beside libFuzzer and the sanitizers (valgrind sees the writes of libraries built without
// the sanitizers, which the sanitizers only see when something later trips over them).
// scripts/fuzz --valgrind builds one a target and runs it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void Replay(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay: %s\n", path.string().c_str());
    // An empty vector's data() may be null; the fuzzer hands a target a valid pointer.
    static const uint8_t empty = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &empty : reinterpret_cast<const uint8_t*>(bytes.data()),
                           bytes.size());
}

}  // namespace

int main(int argc, char** argv)
{
    size_t files = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (std::filesystem::is_directory(argv[i], error)) {
            std::vector<std::filesystem::path> inside;
            for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
                if (entry.is_regular_file(error)) inside.push_back(entry.path());
            std::sort(inside.begin(), inside.end());
            for (const auto& path : inside) Replay(path), ++files;
        } else {
            Replay(argv[i]);
            ++files;
        }
    }
    std::fprintf(stderr, "replay: %zu files\n", files);
    return 0;
}
