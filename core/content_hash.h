// A 64-bit hash of a file's bytes, to tell whether a file on disk still holds
// the bytes a load read. Not a cryptographic hash: it guards against a file
// that was replaced or edited meanwhile, not against one made to collide.
#pragma once

#include <cstdint>
#include <span>

#include "core/mapped_file.h"

namespace quarrendel {

// The hash of `bytes`, read through `input` a megabyte at a time (a mapped
// file is read with pread, so hashing maps none of its pages). The same bytes
// give the same value whatever `input` is.
uint64_t ContentHash(std::span<const uint8_t> bytes, const InputHooks& input = InputHooks());

}  // namespace quarrendel
