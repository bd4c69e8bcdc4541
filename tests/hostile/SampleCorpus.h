// Small, varied TIFF files the hostile-input suite damages and the fuzzer
// starts from: every compression this libtiff can write, every photometric
// interpretation the engine routes, strips and tiles, planar layouts,
// multi-page files and multi-strip faxes. Pages are kept small (a few KiB) so
// that thousands of damaged copies convert quickly.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/TiffFixture.h"

namespace hostile {

struct CorpusFile {
    std::string name;  // file name, ends in ".tif"
    std::vector<fixtures::PageRecipe> pages;
    fixtures::FileOptions options;
};

// Every corpus file whose compressions this libtiff build can encode.
std::vector<CorpusFile> sampleCorpus();

// The few files the damage suite starts from: one of each route the engine
// takes (raw fax strips, fax rewrite, decoded strips, scanlines, RGBA,
// palette, tiles, several pages).
std::vector<CorpusFile> baseCorpus();

// Writes the file into `folder` and returns its path.
std::filesystem::path writeCorpusFile(const CorpusFile& file, const std::filesystem::path& folder);

}  // namespace hostile
