#include "instance/filter_store.h"

#include <gtest/gtest.h>

#include <climits>

namespace varnel {
namespace {

// The ranges sensors report: most models, and the wide-gain ones.
constexpr ValueRange kGain{1, 63}, kExposure{1, 6400};
constexpr ValueRange kWideGain{0, 1023}, kHyd4Exposure{8, 1068};

// Fault caught: a range transcribed wrongly (off by one at either end), an
// identifier mapped to the wrong field, or a value stored although refused.
TEST(FilterStoreTest, RangesPerIdentifier) {
  struct Case {
    int id;
    int low;
    int high;
  };
  const Case cases[] = {
      {1, -255, 255},  {2, -127, 127},  {3, -360, 360},  {4, -255, 255},  {5, 0, 30},
      {7, 0, 400},     {8, 0, 400},     {9, 0, 400},     {11, 0, 200},    {12, 0, 3},
      {19, 0, 2},      {20, 0, 255},    {21, 0, 255},    {22, 0, 255},    {23, 0, 255},
      {24, -255, 255}, {25, -255, 255}, {26, -255, 255}, {27, -255, 255},
  };
  for (const Case& c : cases) {
    FilterSettings block{};
    int read = 12345;
    EXPECT_EQ(StoreFilterValue(block, c.id, c.low, kGain, kExposure), FilterOutcome::kDone) << c.id;
    ASSERT_EQ(ReadFilterValue(block, c.id, &read), FilterOutcome::kDone) << c.id;
    EXPECT_EQ(read, c.low) << c.id;
    EXPECT_EQ(StoreFilterValue(block, c.id, c.high, kGain, kExposure), FilterOutcome::kDone)
        << c.id;
    ASSERT_EQ(ReadFilterValue(block, c.id, &read), FilterOutcome::kDone);
    EXPECT_EQ(read, c.high) << c.id;
    for (int refused : {c.low - 1, c.high + 1, INT_MIN, INT_MAX}) {
      EXPECT_EQ(StoreFilterValue(block, c.id, refused, kGain, kExposure),
                FilterOutcome::kOutOfRange)
          << c.id << " " << refused;
    }
    ReadFilterValue(block, c.id, &read);
    EXPECT_EQ(read, c.high) << "a refused value changed identifier " << c.id;
  }
}

// Fault caught: two identifiers sharing one field.
TEST(FilterStoreTest, EachIdentifierHasItsOwnField) {
  FilterSettings block{};
  const int ids[] = {1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 19, 20, 21, 22, 23, 24, 25, 26, 27};
  int value = 1;
  for (int id : ids) StoreFilterValue(block, id, value++ % 3, kGain, kExposure);
  value = 1;
  for (int id : ids) {
    int read = -1;
    ReadFilterValue(block, id, &read);
    EXPECT_EQ(read, value++ % 3) << id;
  }
}

// Fault caught: packed gains stored without masking, or read back unpacked.
TEST(FilterStoreTest, PackedBayerGainsAndAutoFlag) {
  FilterSettings block{};
  EXPECT_EQ(StoreFilterValue(block, 6, 0x7F123456, kGain, kExposure), FilterOutcome::kDone);
  EXPECT_EQ(block.bayerGainRed, 0x56);
  EXPECT_EQ(block.bayerGainGreen, 0x34);
  EXPECT_EQ(block.bayerGainBlue, 0x12);
  int read = 0;
  ReadFilterValue(block, 6, &read);
  EXPECT_EQ(read, 0x123456);

  block.bayerGainRed = 300;  // set through identifier 7; the packed form keeps the low byte
  ReadFilterValue(block, 6, &read);
  EXPECT_EQ(read, 0x12342C);

  EXPECT_EQ(StoreFilterValue(block, 10, -8, kGain, kExposure), FilterOutcome::kDone);
  ReadFilterValue(block, 10, &read);
  EXPECT_EQ(read, 1);
}

// Fault caught: gain or exposure checked against another range than the one
// the sensor reports, colour gains accepted, unknown identifiers accepted,
// sensor-held values read from the block.
TEST(FilterStoreTest, SensorValuesColourGainsAndUnknownIdentifiers) {
  FilterSettings block{};
  EXPECT_EQ(StoreFilterValue(block, 13, 64, kGain, kExposure), FilterOutcome::kOutOfRange);
  EXPECT_EQ(StoreFilterValue(block, 13, 0, kGain, kExposure), FilterOutcome::kOutOfRange);
  EXPECT_EQ(StoreFilterValue(block, 18, 7, kWideGain, kHyd4Exposure), FilterOutcome::kOutOfRange);
  EXPECT_EQ(StoreFilterValue(block, 18, 1069, kWideGain, kHyd4Exposure),
            FilterOutcome::kOutOfRange);
  EXPECT_EQ(StoreFilterValue(block, 18, 1068, kWideGain, kHyd4Exposure), FilterOutcome::kSensor);
  EXPECT_EQ(StoreFilterValue(block, 13, 63, kGain, kExposure), FilterOutcome::kSensor);
  EXPECT_EQ(StoreFilterValue(block, 13, 64, kWideGain, kHyd4Exposure), FilterOutcome::kSensor);
  EXPECT_EQ(StoreFilterValue(block, 13, 1023, kWideGain, kHyd4Exposure), FilterOutcome::kSensor);
  EXPECT_EQ(StoreFilterValue(block, 13, 1024, kWideGain, kHyd4Exposure),
            FilterOutcome::kOutOfRange);
  EXPECT_EQ(StoreFilterValue(block, 18, 0, kGain, kExposure), FilterOutcome::kOutOfRange);
  EXPECT_EQ(StoreFilterValue(block, 18, 6400, kGain, kExposure), FilterOutcome::kSensor);
  EXPECT_EQ(StoreFilterValue(block, 18, 6401, kGain, kExposure), FilterOutcome::kOutOfRange);
  int read = 99;
  EXPECT_EQ(ReadFilterValue(block, 13, &read), FilterOutcome::kSensor);
  EXPECT_EQ(ReadFilterValue(block, 18, &read), FilterOutcome::kSensor);
  for (int id : {14, 15, 16, 17}) {
    for (int value : {0, 1, -1, 100}) {
      EXPECT_EQ(StoreFilterValue(block, id, value, kGain, kExposure), FilterOutcome::kOutOfRange);
    }
    EXPECT_EQ(ReadFilterValue(block, id, &read), FilterOutcome::kOutOfRange);
  }
  for (int id : {0, -1, 28, INT_MAX, INT_MIN}) {
    EXPECT_EQ(StoreFilterValue(block, id, 0, kGain, kExposure), FilterOutcome::kOutOfRange);
    EXPECT_EQ(ReadFilterValue(block, id, &read), FilterOutcome::kOutOfRange);
  }
  EXPECT_EQ(read, 99) << "a refused read wrote the value";
}

}  // namespace
}  // namespace varnel
