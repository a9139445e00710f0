#pragma once
// The local exam site served from inside the program, so that a build for the
// local exam hosts is one program to start. It is the same server and route
// table as zandrel-site, on threads of its own, listening on loopback only.

#include <memory>
#include <string>
#include <vector>

#include "site_options.h"
#include "site_questions.h"
#include "site_server.h"

namespace zandrel {

class EmbeddedSite {
 public:
  struct Host {
    site::Subject subject;
    site::Endpoint endpoint;
  };

  // Serves each host whose port nothing holds yet, with the questions of the
  // first of `questionFiles` that exists, or else the bank built into the
  // program; a bank with a fault is served as pages that say so. A port already held (zandrel-site
  // started by hand, another copy of the program, anything else) is left to
  // whatever holds it: the browser shows what answers there. Never fails;
  // what could not be served is said in one line on standard error.
  EmbeddedSite(const std::vector<Host>& hosts, const std::vector<std::string>& questionFiles);
  // Stops serving and joins the server threads.
  ~EmbeddedSite();
  EmbeddedSite(const EmbeddedSite&) = delete;
  EmbeddedSite& operator=(const EmbeddedSite&) = delete;

  // The addresses served by this process ("127.0.0.1:47101").
  std::vector<std::string> served() const;

 private:
  std::vector<std::unique_ptr<site::SiteServer>> servers_;
};

// Where a bank that replaces the built-in one may lie: beside the program,
// then the installed data folder (<prefix>/share/zandrel beside <prefix>/bin).
std::vector<std::string> questionBankLocations(const std::string& programFolder);

// The program's own site, started before the browser first navigates: the
// built-in exam hosts when the build uses the local exam site's defaults,
// nothing for any other hosts.
std::unique_ptr<EmbeddedSite> startEmbeddedSite();

// A browser that drops a connection while the site still writes to it must
// not end the program (on POSIX a write to it would raise SIGPIPE).
void keepRunningOnDroppedConnections();

}  // namespace zandrel
