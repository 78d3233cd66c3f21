#pragma once
// The payload archive the program carries as a resource of its own module.
#include <stdexcept>
#include <string>

namespace sys {
class System;
}

namespace app {

// The resource: type "SOMETYPE", name "TEST" (names compare without case).
inline constexpr char kPayloadType[] = "sometype";
inline constexpr char kPayloadName[] = "test";

class EResNotFound : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EFCreateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the payload to `folder` + "tempEE.zip", making the folder and those
// above it first; `folder` ends in a backslash. Raises EResNotFound
// "Resource test not found", or EFCreateError "Cannot create file "<path>".
// <system message>" (texts in UTF-8).
void SavePayload(sys::System& system, const std::string& folder);

// Where the platform has no module resources, puts the payload built with
// the program among them (see sys::RegisterModuleResource).
void RegisterEmbeddedResources();

}  // namespace app
