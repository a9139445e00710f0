#pragma once
// The pictures the exam site serves itself (road signs and car controls as
// small SVG drawings), so a page never needs the network.

#include <span>
#include <string>
#include <string_view>

namespace zandrel::site {

struct SiteImage {
  std::string_view name;     // served at /img/<name>.svg
  std::string_view altText;  // describes what is drawn without giving the answer away
  std::string_view svg;
};

std::span<const SiteImage> siteImages();

// The image of that name, or nullptr.
const SiteImage* findSiteImage(std::string_view name);

std::string imagePath(std::string_view name);

}  // namespace zandrel::site
