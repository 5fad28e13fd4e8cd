#include "bho/page_scan.h"

#include "bho/html_document.h"
#include "foundation/text.h"

namespace kvshake {

using Microsoft::WRL::ComPtr;

namespace {

constexpr long kLargerThanPixels = 100;
constexpr wchar_t kPictureField[] = L"&url=";

void AppendPicture(std::wstring& pictures, const std::optional<std::wstring>& address) {
    pictures += kPictureField;
    if (address) pictures += EncodeFieldValue(*address);
}

bool IsCandidate(IHTMLImgElement& image) {
    long width = 0;
    long height = 0;
    return SUCCEEDED(image.get_width(&width)) && SUCCEEDED(image.get_height(&height)) &&
           width > kLargerThanPixels && height > kLargerThanPixels;
}

bool IsTheTip(IHTMLElement& element) {
    return ReadText(&element, &IHTMLElement::get_id) == std::wstring(kTipElementId);
}

// Runs scan on each frame's document after the document's own; true when any found something.
bool AndEachFrame(IHTMLDocument2& document, std::wstring& pictures,
                  bool (*scan)(IHTMLDocument2&, std::wstring&), bool found) {
    ForEachFrameDocument(document, [&](IHTMLDocument2& frame) {
        if (scan(frame, pictures)) found = true;
    });
    return found;
}

}  // namespace

bool ScanImages(IHTMLDocument2& document, std::wstring& pictures) {
    bool found = false;
    ComPtr<IHTMLElementCollection> images;
    if (SUCCEEDED(document.get_images(&images))) {
        ForEachItem<IHTMLImgElement>(images.Get(), [&](IHTMLImgElement& image) {
            if (!IsCandidate(image)) return;
            found = true;
            AppendPicture(pictures, ReadText(&image, &IHTMLImgElement::get_src));
        });
    }
    return AndEachFrame(document, pictures, ScanImages, found);
}

bool ScanBackgrounds(IHTMLDocument2& document, std::wstring& pictures) {
    bool found = false;
    ComPtr<IHTMLElementCollection> all;
    if (SUCCEEDED(document.get_all(&all))) {
        ForEachItem<IHTMLElement>(all.Get(), [&](IHTMLElement& element) {
            const ComPtr<IHTMLStyle> style = InlineStyleOf(element);
            if (!style) return;
            const std::optional<std::wstring> background =
                ReadText(style.Get(), &IHTMLStyle::get_backgroundImage);
            if (!background || background->empty() || IsTheTip(element)) return;
            found = true;
            AppendPicture(pictures, background);
        });
    }
    return AndEachFrame(document, pictures, ScanBackgrounds, found);
}

}  // namespace kvshake
