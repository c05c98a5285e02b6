#include "render/PreRenderData.h"

void deletePreRenderDataFunc(void *pre_render_data)
{
    if (pre_render_data == nullptr) {
        return;
    }
    PreRenderData *data = static_cast<PreRenderData *>(pre_render_data);
    delete data->parameter;
    delete[] data->frames;
    delete data;
}
