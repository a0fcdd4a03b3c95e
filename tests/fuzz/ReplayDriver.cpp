// Stands in for libFuzzer where clang is not used: replays the corpus, then
// a fixed stream of mutations of it, so every build exercises the targets.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
std::uint64_t g_state = 0x9E3779B97F4A7C15ull;
std::uint64_t Next() {
    g_state ^= g_state << 13;
    g_state ^= g_state >> 7;
    g_state ^= g_state << 17;
    return g_state;
}

void Run(const std::string& input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}
} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> corpus;
    if (argc > 1 && std::filesystem::is_directory(argv[1]))
        for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
            std::ifstream in(entry.path(), std::ios::binary);
            corpus.emplace_back(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
        }
    if (corpus.empty()) corpus.emplace_back();
    for (const std::string& input : corpus)
        Run(input);

    constexpr int kMutations = 3000;
    for (int i = 0; i < kMutations; ++i) {
        std::string input = corpus[Next() % corpus.size()];
        const int edits = 1 + static_cast<int>(Next() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = input.empty() ? 0 : Next() % (input.size() + 1);
            switch (Next() % 5) {
            case 0: // flip a bit
                if (!input.empty())
                    input[at % input.size()] ^= static_cast<char>(1u << (Next() % 8));
                break;
            case 1: // insert a byte
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(at),
                             static_cast<char>(Next()));
                break;
            case 2: // drop a byte
                if (at < input.size()) input.erase(at, 1);
                break;
            case 3: // cut the tail
                input.resize(at);
                break;
            default: // an interesting character
                if (!input.empty()) input[at % input.size()] = "0 9,.-+eE\r\n\xFF"[Next() % 13];
                break;
            }
        }
        Run(input);
    }
    std::printf("%zu corpus inputs and %d mutations ran\n", corpus.size(), kMutations);
    return 0;
}
