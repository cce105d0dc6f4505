// tests/fuzz/ReplayMain.cpp
// Runs a fuzz target over saved inputs without libFuzzer: every regular file
// of the directories (and every file) named on the command line, in name
// order. A failing input aborts the run; one that returns leaves a pass.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        std::error_code error;
        if (fs::is_directory(path, error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
                if (entry.is_regular_file()) {
                    inputs.push_back(entry.path());
                }
            }
        } else if (fs::is_regular_file(path, error)) {
            inputs.push_back(path);
        } else {
            std::fprintf(stderr, "%s: no such file or directory\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());

    int passed = 0;
    int failed = 0;
    for (const fs::path& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "%s: cannot be read\n", path.string().c_str());
            ++failed;
            continue;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>()};
        // A block of exactly the input's size, so a read past it is caught.
        const auto block = std::make_unique<uint8_t[]>(bytes.size());
        if (!bytes.empty()) {
            std::memcpy(block.get(), bytes.data(), bytes.size());
        }
        std::fprintf(stderr, "Running: %s\n", path.string().c_str());
        LLVMFuzzerTestOneInput(block.get(), bytes.size());
        ++passed;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
