#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorbantilex::testing {

/// Writes 24-bit RGB pixels (rows top to bottom, 3 bytes a pixel) as a PNG
/// file, deflate in stored blocks. False when the file cannot be written.
bool WritePng(const std::wstring& path, int width, int height,
              const std::vector<std::uint8_t>& rgb);

}  // namespace sorbantilex::testing
