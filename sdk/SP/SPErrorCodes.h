/* Error codes of the plug-in support layer: four-character codes, as the host's suites return
 * them. Only the codes the project has confirmed are here. */

#ifndef FRAMEMELD_SDK_SPERRORCODES_H
#define FRAMEMELD_SDK_SPERRORCODES_H

/* The values of the four-character literals '!IMP' and 'Parm', written out so that including
 * the header never warns about multi-character constants. */
#define kSPUnimplementedError 0x21494D50 /* '!IMP' */
#define kSPBadParameterError 0x5061726D  /* 'Parm' */
#define kSPOutOfMemoryError (-108)          /* 0xFFFFFF6C */

#endif
