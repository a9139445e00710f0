#pragma once
// Command line of zandrel-site.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel::site {

struct Endpoint {
  std::string host;
  int port = 0;  // 0: any free port
};

// "HOST:PORT", "[IPv6]:PORT" or "HOST" (port 80).
std::optional<Endpoint> parseEndpoint(std::string_view text);

struct Options {
  Endpoint subject1;
  Endpoint subject4;
  std::string questionsFile;  // empty: the default data file
  bool help = false;
};

// Parses the arguments after the program name over `defaults`. On a fault
// returns nothing and sets `error` to one line saying what is wrong.
std::optional<Options> parseOptions(const std::vector<std::string>& args, Options defaults,
                                    std::string& error);

std::string usageText(const Options& defaults);

}  // namespace zandrel::site
