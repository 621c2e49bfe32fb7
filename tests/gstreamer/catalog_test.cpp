// The plugin's catalogue: element names from filter names, the add-on
// directories searched, and the text kept in GStreamer's registry.
#include "PluginCatalog.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using tw::gst::addonDirectories;
using tw::gst::decodeCatalog;
using tw::gst::encodeCatalog;
using tw::gst::factoryNameFor;
using tw::gst::PluginCatalog;

TEST(PluginCatalog, ElementNamesFromFilterNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"FFT Scope", "tidewave-fft-scope"},
      {"Vidivi Vadu", "tidewave-vidivi-vadu"},
      {"Img Radezu", "tidewave-img-radezu"},
      {"FfT Moorvista", "tidewave-fft-moorvista"},
      {"FFT 2", "tidewave-fft-2"},
      {"DudoZariri", "tidewave-dudozariri"},
      {"  --Weird__Name!! 2 ", "tidewave-weird-name-2"},
      {"Caf\xc3\xa9 Bleu", "tidewave-caf-bleu"},  // bytes of other scripts are separators
      {"***", ""},
      {"", ""},
  };
  for (const auto& [name, want] : cases) EXPECT_EQ(factoryNameFor(name), want) << name;
}

TEST(PluginCatalog, DirectoriesFromTheVariableFirstEachOnce) {
  using V = std::vector<std::string>;
  EXPECT_EQ(addonDirectories("/inst", nullptr), V({"/inst"}));
  EXPECT_EQ(addonDirectories("/inst", ""), V({"/inst"}));
  EXPECT_EQ(addonDirectories("/inst", "/a::/b:/a:"), V({"/a", "/b", "/inst"}));
  EXPECT_EQ(addonDirectories("/inst", "/inst:/a"), V({"/inst", "/a"}));
}

TEST(PluginCatalog, TheRegistryTextGivesBackWhatWasLearned) {
  PluginCatalog c;
  c.addons.push_back({"/dir/with\ttab/Scopewell", 12345, 1700000000123456789, ""});
  c.addons.push_back({"/dir/Broken", 7, 8, "crashed while loading (signal 11, Segmentation fault)\n%s"});
  tw::gst::ElementEntry e;
  e.factory = "tidewave-fft-scope";
  e.addonPath = "/dir/with\ttab/Scopewell";
  e.index = 3;
  e.name = "FFT Scope";
  e.author = "Mornel";
  e.info = "two\nlines\r\tand 100% %41";
  e.modes = 3;
  e.hostFactor = 0.79f;
  c.elements.push_back(e);
  PluginCatalog back;
  ASSERT_TRUE(decodeCatalog(encodeCatalog(c), &back));
  ASSERT_EQ(back.addons.size(), 2u);
  EXPECT_EQ(back.addons[0].path, c.addons[0].path);
  EXPECT_EQ(back.addons[0].size, 12345);
  EXPECT_EQ(back.addons[0].mtimeNs, 1700000000123456789);
  EXPECT_EQ(back.addons[1].failure, c.addons[1].failure);
  ASSERT_EQ(back.elements.size(), 1u);
  const auto& b = back.elements[0];
  EXPECT_EQ(b.factory, e.factory);
  EXPECT_EQ(b.addonPath, e.addonPath);
  EXPECT_EQ(b.index, 3);
  EXPECT_EQ(b.name, e.name);
  EXPECT_EQ(b.author, e.author);
  EXPECT_EQ(b.info, e.info);
  EXPECT_EQ(b.modes, 3);
  EXPECT_EQ(std::memcmp(&b.hostFactor, &e.hostFactor, 4), 0);

  for (const char* bad :
       {"", "something else\n", "tidewave-catalog 1\nfilter\tonly\n",
        "tidewave-catalog 1\naddon\t/p\tx\t1\t\n", "tidewave-catalog 1\naddon\t/p%4\t1\t1\t\n"})
    EXPECT_FALSE(decodeCatalog(bad, &back)) << bad;
}

}  // namespace
