// Placeholder: the stand-in Steam client is being written.
#include "steam/steam_api_subset.h"
