#include <gtest/gtest.h>

#include "archive/shared_global_index.h"

namespace quarrendel::test {
namespace {

std::vector<TImage_Entry> WithIndices(std::initializer_list<uint32_t> indices) {
  std::vector<TImage_Entry> images;
  for (uint32_t index : indices) images.emplace_back().GlobalIndex = index;
  return images;
}

TEST(SharedGlobalIndex, EachSharedIndexIsOneWarningInOrderOfItsFirstImage) {
  EXPECT_EQ(archive::SharedGlobalIndexWarnings(WithIndices({7, 4096, 7, 9, 4096, 7})),
            (std::vector<std::string>{"warning: images 0, 2 and 5 share the global index 7 (00000007)",
                                      "warning: images 1 and 4 share the global index 4096 (00001000)"}));
  EXPECT_TRUE(archive::SharedGlobalIndexWarnings(WithIndices({0, 1, 4294967295u})).empty());
  EXPECT_TRUE(archive::FindSharedGlobalIndices({}).empty());
}

}  // namespace
}  // namespace quarrendel::test
