// A small Rich Text Format reader that turns a document into plain UTF-8 text, for front ends
// without a rich-text control.
#pragma once

#include <string>
#include <string_view>

namespace framework {

// The document's text: groups and control words followed, \par and \line as line feeds, \tab as
// a tab, \'hh as code page 1252, \uN (with \ucN fallback characters skipped); font, colour,
// style, information and picture groups and every \* destination skipped. Never fails: whatever
// cannot be read is left out.
std::string RtfToText(std::string_view rtf);

}  // namespace framework
