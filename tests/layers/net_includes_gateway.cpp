// Compiled with net's include directories only: this must not build.
#include "gateway/engine/HttpEng.h"
