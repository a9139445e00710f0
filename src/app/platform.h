#pragma once
// The platform's services for the program: created at start, filling
// services(), destroyed after the message loop has ended.

#include <memory>

namespace zandrel {

class Platform {
 public:
  virtual ~Platform() = default;
};

std::unique_ptr<Platform> createPlatform();

}  // namespace zandrel
