#include "app/embedded_site.h"

namespace zandrel {

// Winsock reports a dropped connection as an error of the write; there is no
// signal to keep away.
void keepRunningOnDroppedConnections() {}

}  // namespace zandrel
