/* Opens a block of SDK declarations: every public header includes this before its records and
 * PostConfig.h after them. The records are laid out with 8-byte packing whatever the plug-in's own
 * packing is (old sample projects build with 4-byte member alignment), so host and plug-in agree
 * on every offset.
 *
 * No include guard on purpose: each header pushes once and pops once, and headers nest. */

#if defined(_MSC_VER)
#pragma warning(disable : 4103) /* alignment changed after including a header */
#endif

#pragma pack(push, AdobeSDKExternalAlign, 8)
