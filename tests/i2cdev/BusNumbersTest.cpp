// SPDX-License-Identifier: MIT
// The bus numbers of followed bridges: pinned, recorded, first free from the
// base; the configuration's mistakes named with their line.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "BusNumbers.hpp"

namespace {

using CorvaneI2cDev::BusNumberFor;
using CorvaneI2cDev::ReadBusConfig;

class BusNumbersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvane-bus-numbers-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name) << text;
        return dir_ + "/" + name;
    }

    std::string dir_;
};

// A kernel bus holds /dev/i2c-5.
bool Bus5Exists(int bus) {
    return bus == 5;
}
bool NoneExists(int) {
    return false;
}

TEST_F(BusNumbersTest, PinnedRecordedAndFirstFreeFromTheBase) {
    const auto config = ReadBusConfig(Write("conf", "# numbers\nbase 5\nbus CVS2 7   # pinned\n"));
    const std::string state = dir_ + "/state";
    EXPECT_EQ(BusNumberFor("CVS2", config, state, Bus5Exists), 7);
    EXPECT_EQ(BusNumberFor("CVS1", config, state, Bus5Exists), 6);
    EXPECT_EQ(BusNumberFor("CVS3", config, state, Bus5Exists), 8);  // 7 is CVS2's
    // Again, with its node there and no kernel bus in the way: the same numbers.
    EXPECT_EQ(BusNumberFor("CVS1", config, state, [](int bus) { return bus == 6; }), 6);
    EXPECT_EQ(BusNumberFor("/dev/hidraw3", config, state, NoneExists), 5);
    std::ifstream in(state);
    const std::string recorded((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(recorded, "CVS1 6\nCVS3 8\n/dev/hidraw3 5\n");
}

TEST_F(BusNumbersTest, DefaultsWithoutAFileAndMistakesNamed) {
    EXPECT_EQ(ReadBusConfig(dir_ + "/missing").base, 64);
    for (const std::string text :
         {"base\n", "base x\n", "bus CVS1\n", "bus CVS1 -1\n", "speed 4\n"}) {
        const std::string path = Write("conf", "# ok\n" + text);
        try {
            ReadBusConfig(path);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(path + ":2"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(BusNumberFor("CVS 1", {}, dir_ + "/state", NoneExists), std::runtime_error);
}

}  // namespace
