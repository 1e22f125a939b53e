#include "platform/guid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace platform {
namespace {

TEST(CoCreateGuid, GivesFreshVersionFourGuids) {
  Guid first, second;
  ASSERT_EQ(CoCreateGuid(&first), 0);
  ASSERT_EQ(CoCreateGuid(&second), 0);
  EXPECT_NE(std::memcmp(&first, &second, sizeof(Guid)), 0);
  for (const Guid& guid : {first, second}) {
    EXPECT_EQ(guid.data3 >> 12, 4);           // random GUID: version nibble leads the third field
    EXPECT_EQ(guid.data4[0] & 0xC0, 0x80);    // and the variant bits lead the fourth
  }
  EXPECT_LT(CoCreateGuid(nullptr), 0);
}

TEST(CoInitialize, AnswersPerThreadLikeWindows) {
  EXPECT_EQ(CoInitialize(), 0);
  EXPECT_EQ(CoInitialize(), 1);
  int32_t onOtherThread = -1;
  std::thread([&] { onOtherThread = CoInitialize(); CoUninitialize(); }).join();
  EXPECT_EQ(onOtherThread, 0);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitialize(), 0);
  CoUninitialize();
  CoUninitialize();  // one too many does no harm
  EXPECT_EQ(CoInitialize(), 0);
  CoUninitialize();
}

}  // namespace
}  // namespace platform
