// Compiled with gateway's include directories: a downward include builds, so
// the refusals beside it come from the layers and not from the probe itself.
#include "platform/StringList.h"
