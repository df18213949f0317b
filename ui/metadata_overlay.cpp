#include "ui/metadata_overlay.h"
