// The effect's constant string table: parameter labels and descriptive texts by id.
#pragma once

#include "AE_Effect.h"

enum {
    STR_NONE = 0,
    STR_NAME,
    STR_DESCRIPTION,
    STR_START_FRAME,
    STR_END_FRAME,
    STR_EVERY_NTH,
    STR_DIVERGENCE,
    STR_RATING_RANGE,
    STR_OUTPUT,
    STR_OUTPUT_CHOICES,
    STR_COUNT
};

struct StringTableRow {
    A_long id;
    A_char text[256];
};

extern const StringTableRow g_strs[STR_COUNT];

// The text of the row at position id (rows are stored in id order). Callers pass only ids
// below STR_COUNT. The text lives in read-only memory, hence const.
extern "C" const char *GetStringPtr(int id);
