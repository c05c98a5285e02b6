/* API version that this SDK speaks; the PiPL's effect spec version property carries it.
 * The stand-in mirrors the SDK generation that still names the parameter name field `name`
 * (API 13.28). */

#ifndef FRAMEMELD_SDK_AE_EFFECTVERS_H
#define FRAMEMELD_SDK_AE_EFFECTVERS_H

#define PF_PLUG_IN_VERSION 13
#define PF_PLUG_IN_SUBVERS 28

#endif /* FRAMEMELD_SDK_AE_EFFECTVERS_H */
