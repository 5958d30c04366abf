// The Load command: asks for a file, recognises the container by its first
// bytes (unwrapping a whole-file PRS first for ".prs" names), runs the
// matching reader, and leaves the list and its label describing the images.
// Besides the archives and packages it opens single texture files (GBIX or
// GCIX + PVRT/GVRT, bare PVRT/GVRT, XVRT) as a one-image list.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "archive/texture_archive.h"
#include "core/frontend.h"
#include "core/image_store.h"
#include "core/mapped_file.h"

namespace quarrendel::archive {

// The open dialog's filter list. Single texture files come last, so the
// earlier entries keep their indices; the first entry lists them too.
inline constexpr const char* kOpenDialog1Filter =
    "All Suported format|*.xvm;*.pvm;*.gvm;*.afs;*.prs;*.bml;*.pvr;*.gvr;*.xvr|PC File format|*.pvm;*.prs|GC Format|*.gvm;*.prs|"
    "Xbox/BB Format|*.xvm;*.prs|AFS Format|*.afs;*.prs|BML Package|*.bml|"
    "Texture files|*.pvr;*.gvr;*.xvr;*.prs";

// Menu File > Load: asks the front end for a file (OpenDialog1) and loads it;
// Refused without a message when the dialog is cancelled.
Outcome LoadCommand(ImageStore& store, FrontEnd& frontEnd);

// Loads `path` as if it had been chosen in the open dialog. A file that
// cannot be opened loads as no bytes, which the BML reader rejects; a folder,
// a device, a FIFO or a file over 4 GiB is refused with an information
// message (Error). A load that reads less than the file declares is recorded
// in the store (loadIncomplete) and told with a plain message after the label
// is refreshed (IncompleteLoadText, Incomplete). A file of no kind that is
// read is Unsupported (kNotSupported); an AFS member or a BML header the
// readers refuse is Refused. Error(PoolFull) is passed on to the caller's
// top-level handler with the entries filled so far counted and listed.
Outcome LoadFile(ImageStore& store, FrontEnd& frontEnd, const std::string& path);

// The same with the file's bytes at hand: `path` gives the load directory,
// the loaded file name and the ".prs" test; `input` is how the readers reach
// the file behind `fileBytes`.
Outcome LoadContents(ImageStore& store, FrontEnd& frontEnd, const std::string& path,
                     std::span<const uint8_t> fileBytes, const InputHooks& input = InputHooks());

// What the user is told after an incomplete load, for example
// "Only 28 of 32 images could be read: the file is damaged or incomplete."
std::string IncompleteLoadText(const ImageStore& store);

}  // namespace quarrendel::archive
