#pragma once
// What a render-farm strip (a plate rendered over --rows only) says about itself, so that a merge
// can check the strips belong to one plate: kept in a small JSON file beside the strip,
// "STRIP.framemeld-strip.json", since not every output format holds metadata and the tool's own
// PNG writer writes none.

#include <string>
#include <utility>
#include <vector>

namespace framemeld::cli {

struct StripRecord {
    int plateWidth = 0;
    int plateHeight = 0;
    int top = 0;    // the strip's first plate row
    int bottom = 0; // the row after its last
    int bits = 8;   // the render depth the strip's pixels are to be read back at
    bool withAlpha = false;
    bool unassociatedAlpha = false;
    // The settings that shape the plate, as JSON values by name, compared whole between strips:
    // input, frames sampled, divergence, rating range, depth, working space.
    std::vector<std::pair<std::string, std::string>> settings;
};

std::string stripRecordPath(const std::string &stripPath);

// Writes the record beside `stripPath`, whole or not at all (a temporary file renamed into
// place). Throws RunError naming the record file.
void writeStripRecord(const std::string &stripPath, const StripRecord &record);

// Throws RunError naming the strip when its record is missing, unreadable or malformed.
StripRecord readStripRecord(const std::string &stripPath);

} // namespace framemeld::cli
