#include "site_server.h"

namespace zandrel::site {

class SiteServer::Impl {
 public:
  Impl(Subject subject, std::vector<Question> exam, LogSink log)
      : routes_(subject, std::move(exam)),
        server_([this](const SiteRequest& request,
                       SiteResponse& response) { routes_.dispatch(request, response); },
                std::move(log)) {}

  SiteRoutes routes_;
  HttpServer server_;
};

SiteServer::SiteServer(Subject subject, std::vector<Question> exam, LogSink log)
    : impl_(std::make_unique<Impl>(subject, std::move(exam), std::move(log))) {}

SiteServer::~SiteServer() = default;

bool SiteServer::bind(const std::string& host, int port, BindFailure& failure) {
  return impl_->server_.bind(host, port, failure);
}
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
