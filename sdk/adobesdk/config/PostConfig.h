/* Closes a block of SDK declarations opened by PreConfig.h: restores the packing that was in
 * force before it. No include guard, for the same reason as PreConfig.h. */

#pragma pack(pop, AdobeSDKExternalAlign)
