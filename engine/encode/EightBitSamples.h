// Turns 16-bit samples (big-endian, as PDF stores them) into 8-bit ones,
// rounded to the nearest, for files whose level allows no deeper images.
#pragma once

#include <optional>
#include <vector>

#include "engine/encode/SampleSink.h"

namespace quorvex {

class EightBitSamples final : public SampleSink {
  public:
    explicit EightBitSamples(SampleSink& next) : next_(next) {}
    void finish() override { next_.finish(); }

  protected:
    void consume(const uint8_t* data, std::size_t size) override {
        reduced_.clear();
        reduced_.reserve(size / 2 + 1);
        for (std::size_t i = 0; i < size; ++i) {
            if (!highByte_) {
                highByte_ = data[i];
                continue;
            }
            const unsigned sample = unsigned{*highByte_} << 8 | data[i];
            reduced_.push_back(static_cast<uint8_t>((sample * 255 + 32767) / 65535));
            highByte_.reset();
        }
        next_.append(reduced_.data(), reduced_.size());
    }

  private:
    SampleSink& next_;
    std::optional<uint8_t> highByte_;  // a sample cut between two pieces
    std::vector<uint8_t> reduced_;
};

}  // namespace quorvex
