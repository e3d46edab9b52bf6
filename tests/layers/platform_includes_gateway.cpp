// Compiled with platform's include directories only: this must not build.
#include "gateway/engine/HttpEng.h"
