// Single texture files: a whole file that is one texture.
//  PVR: a "GBIX" chunk (magic, length n LE, global index LE at 8) and at
//    8 + n a PVRT chunk; or a bare PVRT chunk at offset 0.
//  GVR: a "GBIX" or "GCIX" chunk (global index BE) and at 8 + n a GVRT
//    chunk; or a bare GVRT chunk. The index byte order follows the texture
//    chunk: GVRT means big-endian.
//  XVR: an XVRT texture, 64-byte header and data from 64.
// The texture loads as a one-image list named after the file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "archive/texture_archive.h"
#include "core/image_store.h"

namespace quarrendel::archive {

// True for the first four bytes of a single texture file.
bool IsTextureFileMagic(std::string_view magic);

// The image name of a texture file: its file name without folder and
// extension. Under a ".prs" extension a texture extension (".pvr", ".gvr",
// ".xvr", any case) goes too: "tex.pvr.prs" names "tex", whose palette is
// then "tex.pvp" beside it.
std::string TextureFileImageName(const std::string& path);

// Loads `file` into entry 0 as the only image: Width, Height and Format from
// the texture header (the file readers' forms), GlobalIndex from the GBIX/GCIX
// chunk or the XVRT header (machine order; 0 for a bare PVRT/GVRT), PackageIndex
// 0, Name `name`, the one name listed; image count 1. The PVR-family flag is
// set for PVR files, as for PVM files; GVR and XVR files leave it 0, as GVM
// and XVM files do.
// Refuses as Unsupported (kNotSupported), changing nothing, a GBIX/GCIX chunk
// not followed by a PVRT or GVRT chunk. Throws, changing nothing,
// Error(Truncated) when a header or the texture data runs past the end of the
// file and Error(Corrupt) for a chunk shorter than its own header. Full block
// pools leave the image count 0.
ReadResult ReadTextureFile(ImageStore& store, std::span<const uint8_t> file, const std::string& name);

}  // namespace quarrendel::archive
