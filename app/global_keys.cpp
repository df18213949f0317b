#include "app/global_keys.h"
