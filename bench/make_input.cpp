// halvic_make_input: writes the benchmark input, "halvic_make_input OUTPUT [SIZE [SEED]]", SIZE in
// bytes or with a K or M suffix (default 200M). Prints the size of the largest content written.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/input_generator.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: halvic_make_input OUTPUT [SIZE[K|M] [SEED]]\n");
        return 2;
    }
    std::uint64_t target = 200000000;
    if (argc > 2) {
        char* suffix = nullptr;
        target = std::strtoull(argv[2], &suffix, 10);
        if (*suffix == 'K' || *suffix == 'k') target *= 1000;
        if (*suffix == 'M' || *suffix == 'm') target *= 1000000;
    }
    std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    halvic::bench::CInputGenerator generator(seed);
    std::uint64_t written = 0;
    std::string block;
    while (written < target) {
        block.clear();
        while (block.size() < (1 << 20) && written + block.size() < target)
            generator.AppendRecord(block);
        if (std::fwrite(block.data(), 1, block.size(), file) != block.size()) {
            std::perror(argv[1]);
            return 1;
        }
        written += block.size();
    }
    if (std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("%zu\n", generator.LargestContent());
    return 0;
}
