#include "app/Music.h"
#include "app/OnlineUnit.h"

void TMainform::ShowNoGenrePage() {}
void TMainform::ShowPlaylistPage() {}
void GeneratePlaylist() {}
