// The remembered access password travels with every later chip-settings write.
#include <gtest/gtest.h>

#include "common/SimTest.hpp"
#include "protocol/DevCom.hpp"

namespace CorvaneTest {
namespace {

class AccessPasswordTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        Connect();
    }

    std::array<std::uint8_t, 8> CarriedByAChipSettingsWrite() {
        Corvane::SettingsImage image;
        EXPECT_EQ(Corvane::DevCom::ReadFlashChipSettings(image), 0);
        EXPECT_EQ(Corvane::DevCom::WriteFlashChipSettings(image, nullptr), 0);
        const Report sent = Sent().back();
        std::array<std::uint8_t, 8> carried{};
        std::copy(sent.begin() + 12, sent.begin() + 20, carried.begin());
        return carried;
    }
};

TEST_F(AccessPasswordTest, AcceptedPasswordIsRememberedRefusedOneIsNot) {
    const std::array<std::uint8_t, 8> none{};
    const std::array<std::uint8_t, 8> first{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    EXPECT_EQ(CarriedByAChipSettingsWrite(), none);
    ASSERT_EQ(bridge->Functions->EnterAccessPassword("abcdefghXYZW"), 0);
    EXPECT_EQ(CarriedByAChipSettingsWrite(), first);
    device->EditResponses(0xB2, [](Report& a) { a[1] = 0x03; });
    EXPECT_EQ(bridge->Functions->EnterAccessPassword("zzzzzzzz"), Corvane::PASSWORD_REJECTED);
    EXPECT_EQ(CarriedByAChipSettingsWrite(), first);
    device->DropResponses(0xB2);
    EXPECT_EQ(bridge->Functions->EnterAccessPassword("yyyyyyyy"), Corvane::REPORT_READ_FAILED);
    EXPECT_EQ(CarriedByAChipSettingsWrite(), first);
    Corvane::VrelUsbI2c again;  // a new object forgets it
    ASSERT_TRUE(again.Settings->GetConnectionStatus());
    EXPECT_EQ(CarriedByAChipSettingsWrite(), none);
}

}  // namespace
}  // namespace CorvaneTest
