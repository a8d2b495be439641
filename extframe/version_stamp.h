// The build stamp each module hands out through qxvercn1.
#pragma once

#include <cstdint>

namespace extframe {

// QX_VERSION_STAMP_WORDS words: five groups of five words and a final zero word.
const uintptr_t *versionStamp();

}  // namespace extframe
