#include "browser/directory_listing.h"
