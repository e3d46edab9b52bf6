// Compiled with gateway's include directories only: this must not build.
#include "app/OnlineUnit.h"
