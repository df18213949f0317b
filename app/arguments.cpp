#include "app/arguments.h"
