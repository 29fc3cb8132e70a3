// The bytes of viewer/page.html, embedded at build time by embed.cmake.
#pragma once

#include <cstddef>

namespace kv {

extern const unsigned char kv_PageBytes[];
extern const size_t kv_PageSize;

} // namespace kv
