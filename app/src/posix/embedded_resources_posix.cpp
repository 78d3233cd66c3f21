#include <cstddef>
#include <cstdint>

#include "app/payload.h"
#include "sys/system.h"

namespace app {
namespace resources {
extern const std::uint8_t payload_zip[];
extern const std::size_t payload_zip_size;
}  // namespace resources

void RegisterEmbeddedResources() {
  sys::RegisterModuleResource("SOMETYPE", "TEST", {resources::payload_zip, resources::payload_zip_size});
}

}  // namespace app
