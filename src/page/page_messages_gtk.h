#pragma once
// The messages between the program and its extension in the browser engine's
// web process. Only the two ends can send them: the page's own script has no
// way to reach either.

namespace zandrel::page_messages {

// Program → extension: does the page have a document? Parameters: none.
// Reply "(bt)": whether it has one, and the identity of the main frame's
// current document (it changes with every new document).
inline constexpr char kDocumentQuery[] = "zandrel.document?";
inline constexpr char kDocumentReplyType[] = "(bt)";

// Program → extension: the inner HTML of the DIV the key selects. Parameters
// "(tayi)": the document identity from kDocumentQuery, the key's bytes, skip.
// Reply "(ayiiyy)": the text's bytes, empty when nothing is selected, when the
// document is no longer the one asked about, or when time ran out; then what
// the search saw (dom::SearchTrace: visited, match, by, cause).
inline constexpr char kDivInnerHtml[] = "zandrel.div-inner-html";
inline constexpr char kDivInnerHtmlType[] = "(tayi)";
inline constexpr char kDivInnerHtmlFormat[] = "(t@ayi)";  // built from a byte-array variant
inline constexpr char kDivInnerHtmlReplyType[] = "(ayiiyy)";
inline constexpr char kDivInnerHtmlReplyFormat[] = "(@ayiiyy)";

// How long the extension itself searches before it answers with nothing; a
// little less than the program waits, so the answer still arrives in time.
inline constexpr int kSearchBudgetMs = 1400;

// Extension → program: runtime/frame_messages_gtk.h.

}  // namespace zandrel::page_messages
