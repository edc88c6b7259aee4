// Replays a fuzz target's corpus outside the fuzzer: every file of the given folders goes
// once through LLVMFuzzerTestOneInput, so an input that once crashed a parser keeps being
// tried in every build tree. A missing or empty folder fails, so a lost corpus is noticed.
// Usage: replay_fuzz_X FOLDER...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

// The whole file in a buffer of exactly its size, so the sanitizers see a read past its end.
bool ReadWhole(const fs::path& file, std::unique_ptr<uint8_t[]>& data, size_t& size) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return false;
    std::streamoff end = in.tellg();
    if (end < 0) return false;
    size = static_cast<size_t>(end);
    data.reset(new uint8_t[size]);
    in.seekg(0);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(data.get()), static_cast<std::streamsize>(size)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER...\n", argv[0]);
        return 2;
    }
    size_t total = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path folder = argv[i];
        std::vector<fs::path> files;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file()) files.push_back(it->path());
        if (ec) {
            std::fprintf(stderr, "cannot read the folder %s: %s\n", folder.c_str(), ec.message().c_str());
            return 1;
        }
        if (files.empty()) {
            std::fprintf(stderr, "no file in %s\n", folder.c_str());
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            std::unique_ptr<uint8_t[]> data;
            size_t size = 0;
            if (!ReadWhole(file, data, size)) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            // Named before it runs: after a crash the last line names the input.
            std::fprintf(stderr, "Running: %s\n", file.c_str());
            LLVMFuzzerTestOneInput(data.get(), size);
        }
        std::printf("%s: %zu files\n", folder.c_str(), files.size());
        total += files.size();
    }
    std::printf("replayed %zu files\n", total);
    return 0;
}
