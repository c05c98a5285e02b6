#pragma once
// A farm strip and its record are one thing to a merge: an image beside another run's record,
// or a record left describing an image that is gone, is a plate nobody rendered. So the two are
// written completely to temporary files first and put in place together: under an exclusive lock
// on their folder (two runs writing the same strip name take turns, the last one's pair wins
// whole), the image first, then the record; when the record cannot be put in place, the image
// that was there before is put back (or the new one removed when there was none), so a failed
// run leaves the folder as it found it.

#include "cli/plate/TemporaryPlateFile.h"

namespace framemeld::cli {

// Both files finished (TemporaryPlateFile::finish) and their targets in one folder. Throws
// RunError as TemporaryPlateFile::putInPlace does, with the folder as it was.
void putPairInPlace(TemporaryPlateFile &image, TemporaryPlateFile &record);

} // namespace framemeld::cli
