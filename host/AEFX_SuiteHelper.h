// Suite acquisition that reports failure as an error code plus a message for the user instead
// of throwing: for callers that want to show the host's error dialog.
#pragma once

#include "AE_Effect.h"

// On success *suite holds the suite and PF_Err_NONE is returned. Without a basic suite or
// without the suite, sets PF_OutFlag_DISPLAY_ERROR_MESSAGE, writes error_message (or
// "Not able to acquire AEFX Suite." when it is NULL) into out_data->return_msg and returns
// PF_Err_BAD_CALLBACK_PARAM.
PF_Err AEFX_AcquireSuite(PF_InData *in_data, PF_OutData *out_data, const char *name, A_long version,
                         const char *error_message, void **suite);

// Releases a suite acquired above. Without a basic suite, reports as above with the default
// "Not able to release AEFX Suite.".
PF_Err AEFX_ReleaseSuite(PF_InData *in_data, PF_OutData *out_data, const char *name, A_long version,
                         const char *error_message);
