#include "app/Music.h"
#include "app/OnlineUnit.h"

void TMainform::ShowGenrePage() {}
