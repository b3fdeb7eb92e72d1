#include "viewer/status_texts.h"

#include <gtest/gtest.h>

namespace korva {
namespace {

TEST(StatusTexts, CountsAndNumbersReadGerman) {
  EXPECT_EQ(germanNumber(0), "0");
  EXPECT_EQ(germanNumber(999), "999");
  EXPECT_EQ(germanNumber(1000), "1.000");
  EXPECT_EQ(germanNumber(1234567), "1.234.567");
  EXPECT_EQ(requestCountText(1, 1), "1 Anfrage");
  EXPECT_EQ(requestCountText(0, 0), "0 Anfragen");
  EXPECT_EQ(requestCountText(12, 4000), "12 von 4.000 Anfragen");
  EXPECT_EQ(indexStateText(IndexState::Current, 1), "Index aktuell, 1 Eintrag");
  EXPECT_EQ(indexStateText(IndexState::Resumed, 2500), "Index fortgesetzt, 2.500 Einträge");
  EXPECT_EQ(indexStateText(IndexState::Building, 7), "Index wird aufgebaut");
  EXPECT_EQ(indexStateText(IndexState::Unknown, 7), "");
  EXPECT_EQ(blockedText(0), "");
  EXPECT_EQ(blockedText(3), "3 Anfragen blockiert");
  EXPECT_EQ(forcedCharsetText("Kyrillisch (Windows-1251)"), "Zeichensatz: Windows-1251 (fest)");
  EXPECT_EQ(forcedCharsetText("UTF-8"), "Zeichensatz: UTF-8 (fest)");
  EXPECT_EQ(forcedCharsetText(""), "");
}

TEST(StatusTexts, SizesRoundToOneDecimalAtTheUnitBorders) {
  EXPECT_EQ(sizeText(1), "1 Byte");
  EXPECT_EQ(sizeText(1023), "1.023 Bytes");
  EXPECT_EQ(sizeText(1024), "1,0 KB");
  EXPECT_EQ(sizeText(1258291), "1,2 MB");
  EXPECT_EQ(sizeText(1024 * 1024 - 1), "1,0 MB");
  EXPECT_EQ(sizeText(std::uint64_t{3} << 30), "3,0 GB");
  EXPECT_EQ(responseText(true, 1258291), "Antwort: 1,2 MB");
  EXPECT_EQ(responseText(true, 0), "Leere Antwort");
  EXPECT_EQ(responseText(false, 0), "Keine Antwort aufgezeichnet");
}

}  // namespace
}  // namespace korva
