// Writes the fuzzer's starting corpus: the hostile suite's small sample files,
// one file per kind of page, into the folder given as the only argument.

#include <cstdio>
#include <exception>
#include <filesystem>

#include "hostile/SampleCorpus.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SEED_FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "cannot create %s: %s\n", folder.c_str(), error.message().c_str());
        return 1;
    }
    int written = 0;
    int failed = 0;
    for (const hostile::CorpusFile& file : hostile::sampleCorpus()) {
        try {
            hostile::writeCorpusFile(file, folder);
            ++written;
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "skipped %s: %s\n", file.name.c_str(), failure.what());
            ++failed;
        }
    }
    std::printf("%d seed files in %s\n", written, folder.c_str());
    return failed == 0 ? 0 : 1;
}
