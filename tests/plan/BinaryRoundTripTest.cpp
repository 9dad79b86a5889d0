// The binary data packet written and read back: every field type, the plan layout with a
// change log, a layout without rows and no layout at all.

#include <gtest/gtest.h>

#include "BinaryPacketSupport.h"

namespace tarvolen {
namespace {

using namespace binarytest;

struct RoundTripCase {
    const char* name;
    std::function<DataPacket()> make;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
}

class BinaryRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(BinaryRoundTrip, decodesToTheSamePacketAndReencodesToTheSameBytes) {
    const DataPacket original = GetParam().make();
    const std::string bytes = encodeBinaryPacket(original);
    ASSERT_TRUE(isBinaryPacket(bytes));
    const DataPacket decoded = decodePacket(bytes);
    expectSamePacket(decoded, original);
    EXPECT_EQ(encodeBinaryPacket(decoded), bytes);
}

TEST_P(BinaryRoundTrip, everyTruncationIsAMismatch) {
    const std::string bytes = encodeBinaryPacket(GetParam().make());
    for (size_t n = 0; n < bytes.size(); ++n) {
        ASSERT_EQ(binaryError(std::string_view(bytes).substr(0, n)), kMismatch) << n << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(BinaryLayouts, BinaryRoundTrip,
                         testing::Values(RoundTripCase{"EveryFieldType", everyFieldType},
                                         RoundTripCase{"PlanWithChangeLog", planWithChangeLog},
                                         RoundTripCase{"LayoutWithoutRows", layoutWithoutRows},
                                         RoundTripCase{"NoFields", [] { return DataPacket{}; }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvolen
