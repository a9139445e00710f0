#include "site_server.h"

#include "site_text.h"

namespace zandrel::site {

std::string formatLogLine(std::time_t when, std::string_view address, std::string_view method,
                          std::string_view path, int status) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  char stamp[32];
  if (std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local) == 0) stamp[0] = '\0';
  return std::string(stamp) + " " + std::string(address) + " " + logField(method) + " " +
         logField(path) + " " + std::to_string(status);
}

std::string formatAddress(std::string_view host, int port) {
  // Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" +
  // std::string&& at -O3.
  std::string address;
  if (host.find(':') != std::string_view::npos) {
    address.append("[").append(host).append("]");
  } else {
    address.append(host);
  }
  return address.append(":").append(std::to_string(port));
}

}  // namespace zandrel::site
