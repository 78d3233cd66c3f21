#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sys::posix {

std::optional<std::span<const std::uint8_t>> FindRegisteredResource(const std::string& type, const std::string& name);

}  // namespace sys::posix
