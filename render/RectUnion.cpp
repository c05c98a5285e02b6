#include "render/RectUnion.h"

bool IsEmptyRect(const PF_LRect *r)
{
    return r->left >= r->right || r->top >= r->bottom;
}

void UnionLRect(const PF_LRect *src, PF_LRect *dst)
{
    if (IsEmptyRect(dst)) {
        *dst = *src;
    } else if (!IsEmptyRect(src)) {
        if (src->left < dst->left) {
            dst->left = src->left;
        }
        if (src->top < dst->top) {
            dst->top = src->top;
        }
        if (src->right > dst->right) {
            dst->right = src->right;
        }
        if (src->bottom > dst->bottom) {
            dst->bottom = src->bottom;
        }
    }
}
