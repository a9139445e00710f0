#pragma once
// The local exam site served from inside the program, so that a build for the
// local exam hosts is one program to start. It is the same server and route
// table as zandrel-site, on threads of its own, listening on loopback only.

#include <memory>
#include <string>
#include <vector>

#include "app/exam_hosts.h"
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

  // What became of one host: where the program serves it, or why it cannot.
  struct Outcome {
    site::Subject subject;
    std::string address;  // "127.0.0.1:47101"; empty when not served
    std::string failure;  // in Chinese, for the page the window shows instead; empty when served
  };

  // Serves each host with the questions of the first of `questionFiles` that
  // exists, or else the bank built into the program (a bank with a fault is
  // served as pages that say so): on its own port when that is free, otherwise on a free port of
  // the same interface. Ports are machine-wide but the program runs per user and session, so
  // whatever holds the port (zandrel-site, another user's copy, any other program) is never shown
  // in its place. Never fails; a port taken and what could not be served are said in one line on
  // standard error each.
  EmbeddedSite(const std::vector<Host>& hosts, const std::vector<std::string>& questionFiles);
  // Stops serving and joins the server threads.
  ~EmbeddedSite();
  EmbeddedSite(const EmbeddedSite&) = delete;
  EmbeddedSite& operator=(const EmbeddedSite&) = delete;

  // The addresses served by this process ("127.0.0.1:47101").
  std::vector<std::string> served() const;
  // One per host, in the order given.
  const std::vector<Outcome>& outcomes() const { return outcomes_; }

 private:
  Outcome serve(const Host& host, std::vector<site::Question> exam);

  std::vector<std::unique_ptr<site::SiteServer>> servers_;
  std::vector<Outcome> outcomes_;
};

// Where a bank that replaces the built-in one may lie: beside the program,
// then the installed data folder (<prefix>/share/zandrel beside <prefix>/bin).
std::vector<std::string> questionBankLocations(const std::string& programFolder);

// The program's own site, started before the browser first navigates: the
// built-in exam hosts when the build uses the local exam site's defaults,
// nothing for any other hosts.
std::unique_ptr<EmbeddedSite> startEmbeddedSite();

// The host the window shows for `subject`: where this program serves it, or,
// when it cannot, a host nothing answers on, with the cause for the message
// shown in its place.
ExamHost shownHost(const EmbeddedSite& site, site::Subject subject);

// A browser that drops a connection while the site still writes to it must
// not end the program (on POSIX a write to it would raise SIGPIPE).
void keepRunningOnDroppedConnections();

}  // namespace zandrel
