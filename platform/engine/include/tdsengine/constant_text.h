// Texts known to stay put: address ranges whose bytes neither change nor go away while the
// program runs, such as the read-only segments of the loaded decoder plug-in. The renderers keep
// the escaped form of a label, note or table text that lies in such a range, once per text,
// instead of scanning it again for every field. A text anywhere else is escaped each time, so
// registering nothing changes no output, only the speed.
#pragma once

#include "tdsengine/engine.h"

// Registers the read-only parts of the loaded object (program or shared library) that holds
// `address`: its segments without write permission and the part the loader makes read-only
// after relocation. The object must stay loaded until ForgetConstantTexts(). False when no
// loaded object holds the address or there is no room for more ranges.
TDSENGINE_API bool AddConstantModule(const void* address);

// Registers [begin, end) as bytes that stay unchanged until ForgetConstantTexts().
TDSENGINE_API bool AddConstantRange(const void* begin, const void* end);

// Forgets every range, and every escaped text kept from them.
TDSENGINE_API void ForgetConstantTexts();
