#include <gtest/gtest.h>

#include <thread>

#include "model/messages.h"

namespace kestrel {
namespace {

class Messages : public ::testing::Test {
 protected:
  MessageCatalogue catalogue = LoadCatalogue();
};

TEST_F(Messages, LookUpGroupAndKeyInAnyCase) {
  EXPECT_EQ(CatalogueText(catalogue, "msg", "FILES CONVERTED"), "Files converted: %s1% of %s2%");
  EXPECT_EQ(CatalogueText(catalogue, "General", "Preparing"), "Preparing...");
  EXPECT_EQ(CatalogueText(catalogue, "Msg", "Conversion is not complete"), "Conversion stopped");
  EXPECT_EQ(CatalogueText(catalogue, "Msg", "Invalid output folder"),
            "The following output folder is invalid or doesn't exist:\r\n%s1%\r\n\r\nPlease, correct the output "
            "path and try again!");
  EXPECT_EQ(CatalogueText(catalogue, "Uninstall", "Uninstall Text"), "Full Uninstall - Visit Uninstall Center");
  EXPECT_EQ(CatalogueText(catalogue, "Preferences", "Medium"), "Medium");
}

TEST_F(Messages, MissingTextsAreVisible) {
  EXPECT_EQ(CatalogueText(catalogue, "Msg", "No such key"), "%NO_STRING_ERROR%");
  EXPECT_EQ(CatalogueText(catalogue, "No such group", "Error"), "%NO_STRING_ERROR%");
  EXPECT_EQ(CatalogueText(catalogue, "Msg", ""), "%NO_STRING_ERROR%");
  // A key of another group is not found in this one.
  EXPECT_EQ(CatalogueText(catalogue, "General", "Files converted"), "%NO_STRING_ERROR%");
}

TEST_F(Messages, LookupsFromTwoThreadsAgree) {
  std::string a, b;
  std::thread first([&] {
    for (int i = 0; i < 1000; ++i) a = CatalogueText(catalogue, "General", "Converting");
  });
  std::thread second([&] {
    for (int i = 0; i < 1000; ++i) b = CatalogueText(catalogue, "Msg", "Error");
  });
  first.join();
  second.join();
  EXPECT_EQ(a, "Converting...");
  EXPECT_EQ(b, "Error");
}

TEST(FormatMessage, FillsPlaceholdersInOrder) {
  EXPECT_EQ(FormatMessage("Files converted: %s1% of %s2%", "3", "5"), "Files converted: 3 of 5");
  EXPECT_EQ(FormatMessage("Files converted: %s1% of %s2%", "3", ""), "Files converted: 3 of %s2%");
  EXPECT_EQ(FormatMessage("%S1% and %s1%", "x"), "x and x");
  EXPECT_EQ(FormatMessage("", "x", "y"), "");
  // A value holding a later placeholder is completed by the later value.
  EXPECT_EQ(FormatMessage("<%s1%>", "%s2%", "two"), "<two>");
  // Inserted text is not scanned again within its own step.
  EXPECT_EQ(FormatMessage("%s1%", "%s1%"), "%s1%");
}

}  // namespace
}  // namespace kestrel
