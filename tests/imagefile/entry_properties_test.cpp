// The property panel's command: global indices typed in decimal, names that
// fit the archives' 28-byte fields, nothing changed when refused.
#include "imagefile/entry_properties.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/recording_frontend.h"

namespace quarrendel::imagefile {
namespace {

TEST(EntryPropertiesTest, GlobalIndexText) {
  const struct {
    const char* text;
    std::optional<uint32_t> value;
  } rows[] = {{"0", 0u},           {"77", 77u},          {"0000000042", 42u}, {"4294967295", 4294967295u},
              {"4294967296", {}},  {"9999999999", {}},   {"00000000001", {}}, {"", {}},
              {"-1", {}},          {"12a", {}},          {" 1", {}},          {"0x10", {}}};
  for (const auto& row : rows) EXPECT_EQ(ParseGlobalIndex(row.text), row.value) << row.text;
}

TEST(EntryPropertiesTest, RefusedChangesNothingAndDoneMarksTheChange) {
  auto store = std::make_unique<ImageStore>();
  store->imageCount = 1;
  store->images[0].Name = "wall";
  store->images[0].GlobalIndex = 5;
  RecordingFrontEnd ui;
  ui.list = {"wall"};
  ui.selected = 0;
  const struct {
    int32_t index;
    std::string name;
    const char* globalIndex;
    std::string_view message;
  } refused[] = {{1, "x", "1", "Please select an image first."},
                 {-1, "x", "1", "Please select an image first."},
                 {0, std::string(29, 'n'), "1", kNameTooLong},
                 {0, std::string("a\0b", 3), "1", kNameTooLong},
                 {0, "ok", "4294967296", kBadGlobalIndex}};
  for (const auto& row : refused) {
    ui.messages.clear();
    const Outcome outcome = SetEntryProperties(*store, ui, row.index, row.name, row.globalIndex);
    EXPECT_EQ(outcome.status, Status::Refused);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, row.message);
    EXPECT_EQ(store->images[0].Name, "wall");
    EXPECT_EQ(store->images[0].GlobalIndex, 5u);
    EXPECT_FALSE(store->unsavedChanges);
  }
  // The same values again: done, nothing to save.
  EXPECT_TRUE(SetEntryProperties(*store, ui, 0, "wall", "5"));
  EXPECT_FALSE(store->unsavedChanges);
  EXPECT_TRUE(SetEntryProperties(*store, ui, 0, std::string(28, 'w'), "4294967295"));
  EXPECT_EQ(store->images[0].Name, std::string(28, 'w'));
  EXPECT_EQ(store->images[0].GlobalIndex, 4294967295u);
  EXPECT_TRUE(store->unsavedChanges);
}

}  // namespace
}  // namespace quarrendel::imagefile
