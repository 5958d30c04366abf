// A store with images put in by hand and a front end that answers from
// queues, for the Export, Import and Add tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/frontend.h"
#include "core/image_store.h"
#include "tests/support/recording_frontend.h"
#include "texture/image_selection.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {

// `hex` repeated `times` times.
inline std::string Repeat(const std::string& hex, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += hex + " ";
  return out;
}

struct TransferTest : ::testing::Test {
  std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
  RecordingFrontEnd frontEnd;
  TempDir dir;

  // Appends an image and its list item; returns its index.
  int32_t Put(const std::string& name, uint16_t width, uint16_t height, uint32_t format, uint32_t globalIndex,
              const Bytes& data) {
    const int32_t i = store->imageCount++;
    store->FillEntryData(i, data);
    TImage_Entry& e = store->images[static_cast<size_t>(i)];
    e.Width = width;
    e.Height = height;
    e.Format = format;
    e.GlobalIndex = globalIndex;
    e.Name = name;
    frontEnd.ListAdd(name);
    return i;
  }

  // Clicks list item `i`.
  void Select(int32_t i) {
    frontEnd.ListSetSelectedIndex(i);
    texture::SelectListedImage(*store, frontEnd);
  }

  Bytes Data(int32_t i) const {
    const auto bytes = store->images[static_cast<size_t>(i)].Bytes();
    return Bytes(bytes.begin(), bytes.end());
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    WriteFileBytes(dir / name, bytes);
    return Path(name);
  }
};

}  // namespace quarrendel::test
