#include "site_options.h"

#include "site_server.h"

namespace zandrel::site {

namespace {

bool isHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool isIpv6Character(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
         c == '.';
}

std::optional<int> parsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int port = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port > 65535) return std::nullopt;
  return port;
}

}  // namespace

std::optional<Endpoint> parseEndpoint(std::string_view text) {
  Endpoint endpoint;
  std::string_view portText = "80";
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1) return std::nullopt;
    endpoint.host = std::string(text.substr(1, close - 1));
    for (const char c : endpoint.host) {
      if (!isIpv6Character(c)) return std::nullopt;
    }
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      portText = rest.substr(1);
    }
  } else {
    const std::size_t colon = text.find(':');
    endpoint.host = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos) portText = text.substr(colon + 1);
    if (endpoint.host.empty()) return std::nullopt;
    for (const char c : endpoint.host) {
      if (!isHostCharacter(c)) return std::nullopt;
    }
  }
  const std::optional<int> port = parsePort(portText);
  if (!port) return std::nullopt;
  endpoint.port = *port;
  return endpoint;
}

std::optional<Options> parseOptions(const std::vector<std::string>& args, Options options,
                                    std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const std::size_t equals = name.find('=');
        name.starts_with("--") && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name == "--help" || name == "-h") {
      if (value) {
        error = name + " takes no value";
        return std::nullopt;
      }
      options.help = true;
      continue;
    }
    if (name != "--subject1" && name != "--subject4" && name != "--questions") {
      error = "unknown option " + args[i];
      return std::nullopt;
    }
    if (!value) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (name == "--questions") {
      if (value->empty()) {
        error = "--questions needs a file name";
        return std::nullopt;
      }
      options.questionsFile = *value;
      continue;
    }
    const std::optional<Endpoint> endpoint = parseEndpoint(*value);
    if (!endpoint) {
      error = name + " wants HOST:PORT, not \"" + *value + "\"";
      return std::nullopt;
    }
    (name == "--subject1" ? options.subject1 : options.subject4) = *endpoint;
  }
  if (options.subject1.host == options.subject4.host && options.subject1.port != 0 &&
      options.subject1.port == options.subject4.port) {
    error = "Subject 1 and Subject 4 need different addresses (both are " +
            formatAddress(options.subject1.host, options.subject1.port) + ")";
    return std::nullopt;
  }
  return options;
}

std::string usageText(const Options& defaults) {
  return "Usage: zandrel-site [--subject1 HOST:PORT] [--subject4 HOST:PORT] [--questions FILE]\n"
         "\n"
         "Serves the local mock exams of the driving-theory tests: Subject 1 (科目一) and\n"
         "Subject 4 (科目四), each at /kaoshi/ on its own host, with the result at /score/.\n"
         "\n"
         "  --subject1 HOST:PORT  Subject 1 host (default " +
         formatAddress(defaults.subject1.host, defaults.subject1.port) +
         ")\n"
         "  --subject4 HOST:PORT  Subject 4 host (default " +
         formatAddress(defaults.subject4.host, defaults.subject4.port) +
         ")\n"
         "                        port 0 takes any free port; the ready line names it\n"
         "  --questions FILE      question data file (default: questions.tsv next to the\n"
         "                        program, else the bank built into it)\n"
         "  -h, --help            show this text\n"
         "\n"
         "Each request is logged to standard output as one line:\n"
         "  TIME HOST:PORT METHOD PATH STATUS\n"
         "SIGINT or SIGTERM stops the server.\n";
}

}  // namespace zandrel::site
