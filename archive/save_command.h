// The Save command (File > Save, shown as "Rebuild" while a BML package is
// loaded): writes the image table back as it is, except that images of
// another family than the kind's (XBox/BB textures saved as a PVM or GVM, GC
// ones as an XVM, any of them in an AFS of another platform) are decoded and
// re-encoded for it by the family rule (texture/format_choice.h: size and
// mipmaps kept), replaced in the table, and "N images were converted for
// FAMILY" is told once the file is written; a picture the family cannot take
// refuses the save naming it, and a save that is not written puts the
// images back as they were.
//  Save as (a SaveKind: SaveDialog1's filter index): 1 PVM, 2 XVM, 5 GVM under
//    the chosen name with that extension forced; 3, 4, 6 an AFS file of PC, Xbox or
//    GameCube textures with ".afs" forced, or, when the images came from a
//    package (packed mode), an AFS of PRS-compressed archives under the name
//    exactly as chosen, with the progress panel showing the packing. A chosen
//    name ending in ".prs" (any case) wraps the written file, whatever its
//    kind, in PRS compression under that name with ".prs" in place of its
//    extension (STAGE.PRS, index 1: STAGE.prs), as long as it is no larger
//    than a .prs file can unpack to when it is loaded (10,000,000 bytes).
//  Rebuild: the loaded package written again over its own file (see
//    bml_rebuild.h), only while that file still holds the bytes the load read.
// Files go through the file writer: a packed AFS that is not wrapped is
// written as its archives are compressed, so it may reach the 4 GiB of the
// AFS offsets; everything else is built in memory and written once. A
// refusal or a failure leaves every file as it was. Refusals and
// failures are told with a plain message; a save that succeeds says nothing,
// a rebuild says kBmlRebuilt. Either, once written, clears the store's
// unsaved changes.
#pragma once

#include <string>
#include <vector>

#include "archive/save_names.h"
#include "core/frontend.h"
#include "core/image_store.h"
#include "core/outcome.h"

namespace quarrendel::archive {

struct SaveOptions {
  // The smallest PRS streams (prs::CompressBest) for the archives of a packed
  // AFS or a rebuilt package and for the ".prs" wrapping, instead of the
  // greedy ones; several times slower.
  bool best = false;
  // Files the output must not overwrite, whatever their names (the command
  // line's input file). The rebuild, which exists to replace its input, ignores it.
  std::vector<std::string> protectedInputs;
  // When set, receives the name of the file written (its extension forced).
  std::string* savedPath = nullptr;
};

// Menu File > Save / Rebuild: with the BML flag set rebuilds the loaded
// package, else asks SaveDialog1 for a name and a filter index and saves as
// the kind it names (refused with a message for an index that names none);
// cancelling writes nothing (Refused without a message). `options` go to
// the save or the rebuild.
Outcome SaveCommand(ImageStore& store, FrontEnd& frontEnd, const SaveOptions& options = {});

// Saves as `kind` under `chosenPath`. Refused, with a message naming the
// reason, when images are missing from an incomplete load, a package holds
// more than 120 images, an archive is larger than the buffers allow, an AFS
// file would pass 4 GiB or a ".prs" wrapping 10,000,000 bytes; Error when the
// file could not be written ("Failled to create file\r\n" + its name + the
// reason).
Outcome SaveAs(ImageStore& store, FrontEnd& frontEnd, const std::string& chosenPath, SaveKind kind,
               const SaveOptions& options = {});

// Rebuilds the loaded BML package in place and shows kBmlRebuilt. Refused,
// with a message, when there is nothing to rebuild (kBmlNothingToRebuild),
// the load was incomplete, the package was loaded from a ".prs" file, the
// file no longer holds the bytes that were loaded or the images do not fit
// the package's entries; Error when the file could not be written.
Outcome RebuildLoadedBml(ImageStore& store, FrontEnd& frontEnd, const SaveOptions& options = {});

}  // namespace quarrendel::archive
