// The seeded fault plan on its own: replay from a seed, and the limits of the recoverable profile.
#include <gtest/gtest.h>

#include "sim/fault_plan.h"

namespace dorvane::sim {
namespace {

std::vector<AppliedFault> drawMany(std::uint64_t seed) {
  FaultOdds odds;
  odds.nak = odds.silence = odds.garbageAnswer = odds.retry = odds.abortAnswer = odds.srqBurst = 0.1;
  odds.corruptReply = odds.duplicateReply = odds.garbageBeforeReply = odds.abortReply = 0.1;
  FaultPlan plan;
  plan.randomize(seed, odds);
  for (std::uint16_t i = 0; i < 3000; ++i) {
    if (i % 3 != 0) plan.onAnswer({link::kData, static_cast<std::uint16_t>(i / 2)});
    else plan.onReplyPacket({link::kData, 100, 0, false});
  }
  return plan.applied();
}

TEST(RandomFaults, SameSeedAppliesTheSameFaults) {
  const auto first = drawMany(7);
  EXPECT_GT(first.size(), 300u);
  EXPECT_EQ(drawMany(7), first);
  EXPECT_NE(drawMany(8), first);
}

TEST(RandomFaults, RecoverableProfileNeverEscalatesPastWhatTheDriverMends) {
  FaultPlan plan;
  plan.randomize(1, FaultOdds::recoverable(0.4));
  // A driver that sends 300 messages of STX, four data packets and ETX, resending as answered.
  for (int message = 0; message < 300; ++message) {
    unsigned retries = 0;
    for (std::uint16_t n = 0; n < 6; ++n) {
      const std::uint8_t type = n == 0 ? link::kStx : n == 5 ? link::kEtx : link::kData;
      unsigned naks = 0, lost = 0;
      AnswerFaults f;
      do {
        f = plan.onAnswer({type, n});
        EXPECT_NE(f.answer, link::kAbort);
        naks += f.answer == link::kNak;
        lost += f.delivery != AnswerFaults::Delivery::Send;
      } while (f.answer == link::kNak);
      EXPECT_LE(naks, 3u);
      EXPECT_LE(lost, 1u);
      if (f.answer == link::kRetry && ++retries <= 1) n = static_cast<std::uint16_t>(-1);
    }
    EXPECT_LE(retries, 1u);
  }
  for (int i = 0; i < 3000; ++i) {
    const bool data = i % 2 == 0;
    const std::size_t size = data ? 60 : link::kFramePacketSize;
    const std::uint8_t type = data ? link::kData : link::kStx;
    const ReplyPacketFaults again = plan.onReplyPacket({type, size, 1, true});
    EXPECT_FALSE(again.damageAt) << "a packet damaged twice makes the driver ask for the whole reply";
    const ReplyPacketFaults f = plan.onReplyPacket({type, size, 0, false});
    EXPECT_FALSE(f.abortInstead || f.garbageBefore || again.abortInstead || again.garbageBefore);
    if (!f.damageAt) continue;
    // The type byte and a data packet's length must stay intact, or the damage is not a bad checksum.
    EXPECT_GT(*f.damageAt, 0u);
    EXPECT_LT(*f.damageAt, size);
    EXPECT_TRUE(!data || (*f.damageAt != 3 && *f.damageAt != 4)) << *f.damageAt;
    EXPECT_NE(f.damageMask, 0);
  }
}

}  // namespace
}  // namespace dorvane::sim
