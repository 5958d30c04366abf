// The Load command: asks for a file, recognises the container by its first
// bytes (unwrapping a whole-file PRS first for ".prs" names), runs the
// matching reader, and leaves the list and its label describing the images.
#pragma once

#include <string>

#include "core/frontend.h"
#include "core/image_store.h"

namespace quarrendel::archive {

// The open dialog's filter list.
inline constexpr const char* kOpenDialog1Filter =
    "All Suported format|*.xvm;*.pvm;*.gvm;*.afs;*.prs;*.bml|PC File format|*.pvm;*.prs|GC Format|*.gvm;*.prs|"
    "Xbox/BB Format|*.xvm;*.prs|AFS Format|*.afs;*.prs|BML Package|*.bml";

// Menu File > Load: asks the front end for a file (OpenDialog1) and loads it.
void LoadCommand(ImageStore& store, FrontEnd& frontEnd);

// Loads `path` as if it had been chosen in the open dialog.
void LoadFile(ImageStore& store, FrontEnd& frontEnd, const std::string& path);

}  // namespace quarrendel::archive
