// The pages of several TIFF files, one file after another, as one PDF's
// pages. Only one file is open at a time, so merging thousands of files
// needs no more descriptors than converting one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/pdf/DocumentAssembly.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {

class MergedPages final : public PageSource {
  public:
    // Opens one input as the converter does (its checks included); throws
    // ConversionError when it cannot.
    using Opener = std::function<void(const std::string& path, TiffDocument&)>;

    // `first` is open on the first input, `firstPath`; `others` follow it with the page
    // counts found when they were checked.
    MergedPages(TiffDocument& first, std::string firstPath, std::vector<std::string> others,
                const std::vector<uint32_t>& otherPageCounts, Opener opener);

    uint32_t pageCount() const override { return total_; }
    TiffDocument& selectPage(uint32_t page) override;
    // "scan2.tif: page 1": the input and its own page number.
    std::string pageName(uint32_t page) const override;
    std::vector<uint64_t> profileKeys() const override { return profileKeys_; }
    // The profile keys of the other inputs' pages, one after another, as
    // found when they were checked.
    void addProfileKeys(const std::vector<uint64_t>& keys) {
        profileKeys_.insert(profileKeys_.end(), keys.begin(), keys.end());
    }

  private:
    TiffDocument& documentOf(std::size_t input);
    std::size_t inputOf(uint32_t page) const;

    TiffDocument& first_;
    std::string firstPath_;
    std::vector<std::string> others_;
    std::vector<uint32_t> firstPages_;  // global number of each input's first page
    uint32_t total_ = 0;
    Opener opener_;
    std::size_t openInput_ = 0;  // 0: the first input; n: others_[n - 1]
    TiffDocument other_;
    std::vector<uint64_t> profileKeys_;
};

}  // namespace quorvex
