#pragma once
// The one message the web process extension (page/webext) sends of its own
// accord, and the window layer listens for.

namespace zandrel {

// A sub-frame's document has loaded (the main frame is seen through the
// view's own load events). Parameters "(s)": its address.
inline constexpr char kFrameNavigatedMessage[] = "zandrel.frame-navigated";

}  // namespace zandrel
