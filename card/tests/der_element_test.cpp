#include <gtest/gtest.h>

#include <vector>

#include "card/der_element.h"

namespace {

using Bytes = std::vector<BYTE>;

TEST(ParseDerHeader, ShortAndLongForms) {
  DWORD offset = 100;
  EXPECT_EQ(ParseDerHeader(offset, Bytes{0x30, 0x53, 0x30, 0x06}), 0x53u);
  EXPECT_EQ(offset, 102u);
  offset = 0;
  EXPECT_EQ(ParseDerHeader(offset, Bytes{0x30, 0x81, 0xC8, 0x30}), 0xC8u);
  EXPECT_EQ(offset, 3u);
  offset = 0;
  EXPECT_EQ(ParseDerHeader(offset, Bytes{0x30, 0x82, 0x01, 0x2C}), 300u);
  EXPECT_EQ(offset, 4u);
}

TEST(ParseDerHeader, RefusesWhatWasNotFetched) {
  DWORD offset = 7;
  // Three length bytes, only two of them among the four fetched.
  EXPECT_FALSE(ParseDerHeader(offset, Bytes{0x30, 0x83, 0x00, 0x01}));
  EXPECT_FALSE(ParseDerHeader(offset, Bytes{0x30, 0x82, 0x01}));
  EXPECT_FALSE(ParseDerHeader(offset, Bytes{0x30}));
  EXPECT_FALSE(ParseDerHeader(offset, Bytes{0x30, 0x80, 0x00, 0x00}));  // indefinite
  EXPECT_FALSE(ParseDerHeader(offset, Bytes{0x30, 0x85, 1, 2, 3, 4, 5}));
  EXPECT_EQ(offset, 7u);
}

TEST(SkipDerElement, StepsOverWholeElementsWithinBounds) {
  const Bytes data = {0x30, 0x02, 0x01, 0x02, 0x04, 0x81, 0x01, 0xAA, 0x02};
  const BYTE* end = data.data() + data.size();
  EXPECT_EQ(SkipDerElement(data.data(), end), data.data() + 4);
  EXPECT_EQ(SkipDerElement(data.data() + 4, end), data.data() + 8);
  EXPECT_EQ(SkipDerElement(data.data() + 8, end), nullptr);          // header cut off
  EXPECT_EQ(SkipDerElement(data.data(), data.data() + 3), nullptr);  // content cut off
  EXPECT_EQ(SkipDerElement(end, end), nullptr);
}

}  // namespace
