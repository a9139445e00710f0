#include "app/platform.h"

namespace zandrel {

std::unique_ptr<Platform> createPlatform() { return std::make_unique<Platform>(); }

}  // namespace zandrel
