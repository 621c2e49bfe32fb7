// BMessage (the declared parameters), BPath, the modifier keys and BBitmap's
// geometry.
#include <platform/app.h>
#include <platform/interface_host.h>
#include <platform/storage.h>

#include <gtest/gtest.h>

#include <string>

TEST(BMessage, FindsWhatWasAddedByNameTypeAndIndex) {
  BMessage m;
  ASSERT_EQ(m.AddRect("Bass Frame", BRect(10, 10, 265, 109)), B_OK);
  ASSERT_EQ(m.AddBool("Average", true), B_OK);
  ASSERT_EQ(m.AddFloat("Divider", 8192.0f), B_OK);
  ASSERT_EQ(m.AddInt32("Speed", 16), B_OK);
  ASSERT_EQ(m.AddInt32("Speed", 17), B_OK);

  BRect r;
  bool b = false;
  float f = 0;
  int32 i = 0;
  EXPECT_EQ(m.FindRect("Bass Frame", &r), B_OK);
  EXPECT_EQ(r, BRect(10, 10, 265, 109));
  EXPECT_EQ(m.FindBool("Average", &b), B_OK);
  EXPECT_TRUE(b);
  EXPECT_EQ(m.FindFloat("Divider", &f), B_OK);
  EXPECT_EQ(f, 8192.0f);
  EXPECT_EQ(m.FindInt32("Speed", 1, &i), B_OK);
  EXPECT_EQ(i, 17);

  EXPECT_EQ(m.FindInt32("Speed", 2, &i), B_BAD_INDEX);
  EXPECT_EQ(m.FindFloat("Speed", &f), B_BAD_TYPE);
  EXPECT_EQ(m.FindBool("Missing", &b), B_NAME_NOT_FOUND);
  EXPECT_EQ(m.AddFloat("Speed", 1.0f), B_BAD_TYPE);  // a name holds one type
  EXPECT_EQ(m.AddInt32("", 1), B_BAD_VALUE);
}

TEST(BMessage, ListsItsNamesInTheOrderFirstAdded) {
  BMessage m;
  m.AddFloat("X Observer", 8);
  m.AddFloat("Y Observer", 0);
  m.AddInt32("Speed", 16);
  m.AddFloat("Sound Divider", 8192);
  m.AddFloat("X Observer", 9);

  EXPECT_EQ(m.CountNames(B_ANY_TYPE), 4);
  EXPECT_EQ(m.CountNames(B_FLOAT_TYPE), 3);
  const char* name = nullptr;
  type_code type = 0;
  int32 count = 0;
  const char* want[] = {"X Observer", "Y Observer", "Speed", "Sound Divider"};
  for (int32 k = 0; k < 4; ++k) {
    ASSERT_EQ(m.GetInfo(B_ANY_TYPE, k, &name, &type, &count), B_OK);
    EXPECT_STREQ(name, want[k]);
    EXPECT_EQ(type, k == 2 ? B_INT32_TYPE : B_FLOAT_TYPE);
    EXPECT_EQ(count, k == 0 ? 2 : 1);
  }
  EXPECT_EQ(m.GetInfo(B_ANY_TYPE, 4, &name, &type), B_BAD_INDEX);
  EXPECT_EQ(m.GetInfo(B_INT32_TYPE, 0, &name, &type), B_OK);
  EXPECT_STREQ(name, "Speed");
  EXPECT_EQ(m.GetInfo(B_RECT_TYPE, 0, &name, &type), B_BAD_TYPE);
  EXPECT_EQ(tw_type_code("LONG"), 0x4C4F4E47u);
}

TEST(BPath, JoinsDirectoryAndLeafWithOneSlashAndNormalisesNothing) {
  struct Case {
    const char* dir;
    const char* leaf;
    const char* want;
  } cases[] = {
      {"/data", "image_map", "/data/image_map"},
      {"/data/", "image_map", "/data/image_map"},
      {"/images", "./add-ons.icons/fft.tga", "/images/./add-ons.icons/fft.tga"},
      {"a/../b", nullptr, "a/../b"},
      {"/x", "", "/x"},
  };
  for (const Case& c : cases) {
    BPath p(c.dir, c.leaf);
    ASSERT_EQ(p.InitCheck(), B_OK) << c.dir;
    EXPECT_STREQ(p.Path(), c.want);
  }
  EXPECT_STREQ(BPath("/data/image_map").Leaf(), "image_map");
  BPath unset;
  EXPECT_EQ(unset.InitCheck(), B_NO_INIT);
  EXPECT_EQ(unset.Path(), nullptr);
  EXPECT_NE(BPath("").InitCheck(), B_OK);
  EXPECT_NE(BPath("/a", "/b").InitCheck(), B_OK);  // a leaf is relative
}

TEST(Modifiers, AreOneStatePerProcessThatTheHostSets) {
  EXPECT_EQ(modifiers(), 0u);
  tw_set_modifiers(B_LEFT_SHIFT_KEY | B_SHIFT_KEY | B_CONTROL_KEY);
  EXPECT_EQ(modifiers(), 0x105u);
  tw_set_modifiers(0);
  EXPECT_EQ(modifiers(), 0u);
  EXPECT_EQ(B_RIGHT_SHIFT_KEY, 0x200u);
  EXPECT_EQ(B_OPTION_KEY, 0x40u);
  EXPECT_EQ(B_COMMAND_KEY, 0x2u);
}

TEST(BBitmap, HasBoundsColourSpaceAndFourByteAlignedRows) {
  struct Case {
    BRect bounds;
    color_space space;
    int32 bytesPerRow, length;
  } cases[] = {
      {BRect(0, 0, 639, 479), B_CMAP8, 640, 307200},
      {BRect(0, 0, 5, 4), B_CMAP8, 8, 40},
      {BRect(0, 0, 5, 4), B_RGB32, 24, 120},
      {BRect(0, 0, 31, 31), B_CMAP8, 32, 1024},
  };
  for (const Case& c : cases) {
    BBitmap b(c.bounds, c.space);
    ASSERT_EQ(b.InitCheck(), B_OK);
    EXPECT_EQ(b.Bounds(), c.bounds);
    EXPECT_EQ(b.ColorSpace(), c.space);
    EXPECT_EQ(b.BytesPerRow(), c.bytesPerRow);
    EXPECT_EQ(b.BitsLength(), c.length);
    ASSERT_NE(b.Bits(), nullptr);
  }
  EXPECT_NE(BBitmap(BRect(0, 0, 9, 9), B_NO_COLOR_SPACE).InitCheck(), B_OK);
  EXPECT_NE(BBitmap(BRect(0, 0, 1e9f, 1e9f), B_RGB32).InitCheck(), B_OK);
}

TEST(BView, KeepsWhatItIsTold) {
  BView v(BRect(0, 0, 200, 50), "myview", B_FOLLOW_ALL, B_WILL_DRAW);
  v.SetViewColor(150, 40, 40);
  EXPECT_EQ(v.Frame(), BRect(0, 0, 200, 50));
  EXPECT_STREQ(v.Name(), "myview");
  EXPECT_EQ(v.ResizingMode(), 0x1234u);
  EXPECT_EQ(v.Flags(), 0x20000000u);
  EXPECT_EQ(v.ViewColor(), (rgb_color{150, 40, 40, 255}));
}
