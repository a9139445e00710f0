#pragma once
// The page the browser shows in place of an exam page it cannot reach.

#include <string>

namespace zandrel {

// A whole HTML document (UTF-8) saying in Chinese that the page at `address`
// could not be opened and how to try again. The message sits in the part of
// the 2000 x 2800 browser that the window's cut-out shows (page x 517..1477,
// y 232..820), above its lowest 68 pixels, which the Subject 4 window hides.
std::string unreachablePageHtml(const std::string& address);

}  // namespace zandrel
