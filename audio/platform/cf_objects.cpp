#include "audio/platform/cf_objects.h"

#include <cstring>
#include <memory>

struct OpaqueCFString {
  std::string utf8;
};

struct OpaqueCFDictionary {
  std::map<std::string, OpaqueCFString> values;
};

CFDictionaryRef CreateInfoDictionary(const std::map<std::string, std::string>& values) {
  auto dictionary = std::make_unique<OpaqueCFDictionary>();
  for (const auto& [key, value] : values) {
    dictionary->values.emplace(key, OpaqueCFString{value});
  }
  return dictionary.release();
}

const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const char* key) {
  if (dictionary == nullptr || key == nullptr) {
    return nullptr;
  }
  auto found = dictionary->values.find(key);
  return found == dictionary->values.end() ? nullptr : &found->second;
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex buffer_size,
                           CFStringEncoding encoding) {
  if (string == nullptr || buffer == nullptr || encoding != kCFStringEncodingUTF8) {
    return false;
  }
  const std::string& utf8 = string->utf8;
  if (buffer_size <= 0 || utf8.size() + 1 > static_cast<size_t>(buffer_size)) {
    return false;
  }
  std::memcpy(buffer, utf8.c_str(), utf8.size() + 1);
  return true;
}

// Only dictionaries are ever handed out to be released.
void CFRelease(CFTypeRef object) { delete static_cast<const OpaqueCFDictionary*>(object); }
