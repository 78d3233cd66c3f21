#include "app/payload.h"

namespace app {

// The resource script puts the payload into the executable.
void RegisterEmbeddedResources() {}

}  // namespace app
