#pragma once
// The games a server can be configured for.

// The game id of a game text ("rova:iii" 1, "rova:vc" 2, "rova:sa" 3, "rova:iv" 5, "bully" 7),
// compared without regard to case; -1 for any other text.
int LookupGameId(const char* game);

// The game text of a game id ("rova:iii" for 1); empty for an id that names no game.
const char* GetGameText(int gameId);
