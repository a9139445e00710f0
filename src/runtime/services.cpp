#include "runtime/services.h"

namespace zandrel {

Services& services() {
  static Services instance;
  return instance;
}

}  // namespace zandrel
