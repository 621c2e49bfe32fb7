#include <gtest/gtest.h>
#include <platform/support.h>

namespace {

int values[100];

TEST(List, AppendsInsertsAndRemovesInOrder) {
  BList list(20);
  EXPECT_TRUE(list.IsEmpty());
  for (int i = 0; i < 45; ++i) ASSERT_TRUE(list.AddItem(&values[i]));
  EXPECT_EQ(list.CountItems(), 45);
  for (int i = 0; i < 45; ++i) EXPECT_EQ(list.ItemAt(i), &values[i]);
  EXPECT_EQ(list.ItemAt(45), nullptr);
  EXPECT_EQ(list.ItemAt(-1), nullptr);

  EXPECT_TRUE(list.AddItem(&values[99], 0));
  EXPECT_TRUE(list.AddItem(&values[98], 46));
  EXPECT_FALSE(list.AddItem(&values[97], 48));
  EXPECT_EQ(list.ItemAt(0), &values[99]);
  EXPECT_EQ(list.ItemAt(1), &values[0]);
  EXPECT_EQ(list.ItemAt(46), &values[98]);
  EXPECT_EQ(list.RemoveItem(0), &values[99]);
  EXPECT_EQ(list.ItemAt(0), &values[0]);
  EXPECT_EQ(list.RemoveItem(100), nullptr);
  EXPECT_EQ(list.CountItems(), 46);
  EXPECT_EQ(list.Items()[45], &values[98]);

  EXPECT_TRUE(list.AddItem(nullptr)) << "null items are items";
  EXPECT_EQ(list.CountItems(), 47);
  list.MakeEmpty();
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.ItemAt(0), nullptr);
  EXPECT_TRUE(list.AddItem(&values[1]));
  EXPECT_EQ(list.ItemAt(0), &values[1]);
}

TEST(List, NonPositiveBlockSizeStillGrows) {
  BList list(0);
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(list.AddItem(&values[i]));
  EXPECT_EQ(list.ItemAt(29), &values[29]);
}

}  // namespace
