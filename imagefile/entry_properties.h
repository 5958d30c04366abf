// The property panel's command: a texture's name and global index as the
// user types them, kept in the table until Save writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/frontend.h"
#include "core/image_store.h"
#include "core/outcome.h"

namespace quarrendel::imagefile {

// Name fields of the archives hold 28 bytes.
inline constexpr size_t kMaxNameBytes = 28;
inline constexpr std::string_view kNameTooLong = "The name holds at most 28 characters.";
inline constexpr std::string_view kBadGlobalIndex = "The global index is a decimal number from 0 to 4294967295.";

// `text` as a global index: decimal digits only, at most 4294967295.
std::optional<uint32_t> ParseGlobalIndex(std::string_view text);

// Sets entry `index`'s name and global index (typed in decimal) and shows it
// again. Refused, telling why in an information box and changing nothing,
// for an index outside the images, a name over 28 bytes or one holding a
// zero byte, or a global index that is not a decimal number up to
// 4294967295. Done, marking the images changed when either differs.
Outcome SetEntryProperties(ImageStore& store, FrontEnd& frontEnd, int32_t index, const std::string& name,
                           std::string_view globalIndexText);

}  // namespace quarrendel::imagefile
