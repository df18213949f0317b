#pragma once

// How a platform implementation builds the dictionaries it hands out. Not for engine code.

#include <map>
#include <string>

#include "audio/platform/audio_platform.h"

// A dictionary of UTF-8 strings, released with CFRelease.
CFDictionaryRef CreateInfoDictionary(const std::map<std::string, std::string>& values);
