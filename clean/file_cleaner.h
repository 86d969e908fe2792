#pragma once

#include <cstdint>
#include <string>

#include "clean/stale_copies.h"
#include "engine/database_image.h"
#include "engine/user_interface.h"
#include "platform/folder.h"

namespace quarn {

// Removes `virus` from the file `name` in `folder`, which starts "MZ": the appended-virus
// method, then the enciphered one, then, for a PE image, the PE method, each only when its
// section holds a record for the virus. Each method rebuilds the host in a fresh copy of the
// file that replaces it in one atomic rename with the file's times, so the file is either
// cleaned or exactly as it was. Returns 1 when the virus was removed, 0 otherwise; failures
// are shown through `ui` ("Errore di Scrittura", or the path and cause when the copy itself
// fails). Copies an earlier clean of the file left behind are removed first, through
// `stale_copies`, which a scan keeps from file to file.
uint32_t CleanExecutable(const DatabaseImage& signatures, Folder& folder, const std::string& name,
                         uint32_t virus, UserInterface& ui, StaleCopies& stale_copies);

// The same for any other file: the appended COM method, the prepended-virus method, the
// enciphered COM method and the Word macro method, in this order.
uint32_t CleanNonExecutable(const DatabaseImage& signatures, Folder& folder,
                            const std::string& name, uint32_t virus, UserInterface& ui,
                            StaleCopies& stale_copies);

// Removes the copies of `name` in `folder` that an earlier clean, or an earlier scan's
// working copy of a disk image, left behind; each one that stays is shown through `ui`.
void RemoveStaleCopies(StaleCopies& stale_copies, Folder& folder, const std::string& name,
                       UserInterface& ui);

}  // namespace quarn
