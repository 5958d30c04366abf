// The sample archives under samples/: a PVM, a GVM and an XVM holding small
// pictures (gradients, a colour checker, letters, transparency) in formats
// that can be written without an encoder. make_samples writes them; a test
// checks that the committed files still equal what this code produces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrendel::tools {

struct SampleFile {
  std::string name;  // file name inside samples/
  std::vector<uint8_t> bytes;
};

std::vector<SampleFile> MakeSamples();

}  // namespace quarrendel::tools
