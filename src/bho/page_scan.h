#pragma once

#include <mshtml.h>

#include <string>

namespace kvshake {

// The scans that gather a page's pictures for an upload. Each appends "&url=" and the address,
// encoded with EncodeFieldValue, for every candidate in the order found: the document's own first,
// then each frame's, depth first. Nothing is ranked or left out for being there twice. Each returns
// whether it appended anything, frames included.

// Images strictly larger than 100 by 100 pixels as the browser reports them.
bool ScanImages(IHTMLDocument2& document, std::wstring& pictures);

// Inline style background images, exactly as the browser reports them (url(...) and all). The
// tip that the module put into the page is not part of the page and is passed over.
bool ScanBackgrounds(IHTMLDocument2& document, std::wstring& pictures);

// The id of the tip element that the module puts into pages.
inline constexpr wchar_t kTipElementId[] = L"kovinShakeContainer";

}  // namespace kvshake
