#include "platform/NetworkInterface.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/RS232.h"

namespace {

TEST(NetworkHostParamTest, KeepsAtMost64CharactersOfEachText) {
    std::string longText(70, 'a');
    longText.replace(60, 10, "0123456789");
    TNetworkHostParam host(0x7F000001, 8080, true, longText.c_str(), nullptr);
    EXPECT_EQ(host.address, 0x7F000001u);
    EXPECT_EQ(host.port, 8080);
    EXPECT_TRUE(host.secure);
    EXPECT_EQ(std::string(host.auxText1), longText.substr(0, 64));
    EXPECT_STREQ(host.auxText2, "");

    TNetworkHostParam shortTexts(0, 1, false, "x", std::string(64, 'b').c_str());
    EXPECT_STREQ(shortTexts.auxText1, "x");
    EXPECT_EQ(std::string(shortTexts.auxText2), std::string(64, 'b'));
}

TEST(Rs232ParamsTest, ConstructorTakesBaudRateSecond) {
    TRs232Params params(3, 115200, 8, PARITY_NONE, STOPBITS_ONE);
    EXPECT_EQ(params.port, 3);
    EXPECT_EQ(params.baudRate, 115200u);
    EXPECT_EQ(params.dataBits, 8);
    EXPECT_EQ(params.parity, 'N');
    EXPECT_EQ(params.stopBits, 1u);
}

}  // namespace
