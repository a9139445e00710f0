#include <csignal>

#include "app/embedded_site.h"

namespace zandrel {

void keepRunningOnDroppedConnections() {
  // The site's writes then fail with EPIPE, which ends only that answer.
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace zandrel
