#include "GameList.h"

#include <strings.h>

namespace {

struct tGame {
    const char* text;
    int id;
};

constexpr tGame kGames[] = {
    {"rova:iii", 1}, {"rova:vc", 2}, {"rova:sa", 3}, {"rova:iv", 5}, {"bully", 7},
};

} // namespace

int LookupGameId(const char* game)
{
    if (!game)
        return -1;
    for (const tGame& entry : kGames) {
        if (strcasecmp(entry.text, game) == 0)
            return entry.id;
    }
    return -1;
}

const char* GetGameText(int gameId)
{
    for (const tGame& entry : kGames) {
        if (entry.id == gameId)
            return entry.text;
    }
    return "";
}
