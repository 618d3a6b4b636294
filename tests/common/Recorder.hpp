// SPDX-License-Identifier: MIT
#pragma once

// A target on the virtual bus that logs every byte it takes and every byte it
// gives (a counting pattern), and refuses the data byte at position `nackAt`
// of a write.

#include <corvane/sim/I2cTarget.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace CorvaneTest {

class Recorder : public Corvane::Sim::I2cTarget {
  public:
    std::vector<std::uint8_t> written;
    std::vector<std::uint8_t> read;
    std::size_t nackAt = SIZE_MAX;
    bool Start(bool) override { return true; }
    bool WriteByte(std::uint8_t value) override {
        written.push_back(value);
        return written.size() - 1 != nackAt;
    }
    std::uint8_t ReadByte() override {
        read.push_back(static_cast<std::uint8_t>(read.size() * 7 + 3));
        return read.back();
    }
    void Stop() override {}
};

}  // namespace CorvaneTest
