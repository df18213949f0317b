#include "browser/browser_view.h"
