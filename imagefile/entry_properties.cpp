#include "imagefile/entry_properties.h"

#include "texture/image_selection.h"

namespace quarrendel::imagefile {

std::optional<uint32_t> ParseGlobalIndex(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

Outcome SetEntryProperties(ImageStore& store, FrontEnd& frontEnd, int32_t index, const std::string& name,
                           std::string_view globalIndexText) {
  const auto refuse = [&frontEnd](std::string_view why) {
    frontEnd.ShowInformation(why);
    return Outcome{Status::Refused, std::string(why)};
  };
  if (index < 0 || index >= store.imageCount) return refuse("Please select an image first.");
  if (name.size() > kMaxNameBytes || name.find('\0') != std::string::npos) return refuse(kNameTooLong);
  const std::optional<uint32_t> globalIndex = ParseGlobalIndex(globalIndexText);
  if (!globalIndex) return refuse(kBadGlobalIndex);
  TImage_Entry& entry = store.images[static_cast<size_t>(index)];
  if (entry.Name != name || entry.GlobalIndex != *globalIndex) {
    entry.Name = name;
    entry.GlobalIndex = *globalIndex;
    store.MarkChanged();
  }
  texture::SelectListedImage(store, frontEnd);
  return {};
}

}  // namespace quarrendel::imagefile
