#pragma once

namespace zandrel::win32 {

// The per-user setting that makes this program's WebBrowser controls render
// in the engine's current document mode (IE11 edge) instead of IE7 mode:
// HKCU\...\FeatureControl\FEATURE_BROWSER_EMULATION\<executable name> =
// 11001. It must be in place before the first control is created. True when
// the value was written.
bool preferCurrentDocumentMode();

}  // namespace zandrel::win32
