#include "browser/browser_navigation.h"
