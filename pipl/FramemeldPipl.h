// The effect's own PiPL and bundle description, built from the same constants that
// GlobalSetup writes, so the two can never disagree.
#pragma once

#include "pipl/BundleFiles.h"
#include "pipl/PiplEncoder.h"
#include "pipl/PiplProperty.h"

namespace framemeld::pipl {

// Properties in the order the host's own samples use. The code property is '8664' (a C string)
// for Windows; for macOS it is 'mi64' followed by 'ma64' (Pascal strings), so one bundle can
// carry both Intel and Apple silicon code.
PropertyList FramemeldProperties(ByteOrder target);

BundleInfo FramemeldBundle();

} // namespace framemeld::pipl
