#include "site_server.h"

#include "site_http_server.h"
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

std::string describeBindFailure(const std::string& host, int port) {
  const net::Library library;
  if (!library.ready()) return "sockets are not available";
  std::string reason;
  const net::Socket probe = net::listenOn(host, port, reason);
  return probe ? "cannot bind" : reason;
}

namespace {

HttpServer::Bounds siteBounds() {
  HttpServer::Bounds bounds;
  bounds.maxConnections = SiteServer::MaxConnections;
  bounds.headTime = std::chrono::seconds(SiteServer::RequestHeadSeconds);
  bounds.limits.maxHeaderCount = SiteServer::MaxHeaderCount;
  bounds.limits.maxHeaderBytes = SiteServer::MaxHeaderBytes;
  bounds.limits.maxBody = SiteServer::MaxRequestBody;
  bounds.limits.maxFormBody = SiteServer::MaxFormBody;
  return bounds;
}

}  // namespace

class SiteServer::Impl {
 public:
  Impl(Subject subject, std::vector<Question> exam, LogSink log)
      : routes_(subject, std::move(exam)),
        server_([this](const SiteRequest& request,
                       SiteResponse& response) { routes_.dispatch(request, response); },
                std::move(log), siteBounds()) {}

  SiteRoutes routes_;
  HttpServer server_;
};

SiteServer::SiteServer(Subject subject, std::vector<Question> exam, LogSink log)
    : impl_(std::make_unique<Impl>(subject, std::move(exam), std::move(log))) {}

SiteServer::~SiteServer() = default;

bool SiteServer::bind(const std::string& host, int port, std::string& reason) {
  return impl_->server_.bind(host, port, reason);
}
const std::string& SiteServer::address() const {
  return impl_->server_.address();
}
int SiteServer::port() const {
  return impl_->server_.port();
}
bool SiteServer::start() {
  return impl_->server_.start();
}
void SiteServer::requestStop() {
  impl_->server_.requestStop();
}
void SiteServer::stop() {
  impl_->server_.stop();
}
bool SiteServer::failed() const {
  return impl_->server_.failed();
}

}  // namespace zandrel::site
