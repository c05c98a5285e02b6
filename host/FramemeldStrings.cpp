#include "host/FramemeldStrings.h"

const StringTableRow g_strs[STR_COUNT] = {
    {STR_NONE, ""},
    {STR_NAME, "Framemeld"},
    {STR_DESCRIPTION,
     "Framemeld for After Effects\rBuilds a clean plate of the static background from many "
     "frames of a layer.\r"},
    {STR_START_FRAME, "Start Frame"},
    {STR_END_FRAME, "End Frame"},
    {STR_EVERY_NTH, "Every n-th Frame"},
    {STR_DIVERGENCE, "Divergence"},
    {STR_RATING_RANGE, "Rating Range"},
    {STR_OUTPUT, "Output"},
    {STR_OUTPUT_CHOICES, "Clean Plate|Difference"},
};

extern "C" const char *GetStringPtr(int id)
{
    return g_strs[id].text;
}
