#include "bho/html_document.h"

namespace kvshake {

using Microsoft::WRL::ComPtr;

ComPtr<IHTMLDocument2> TabDocument(IWebBrowser2* browser) {
    ComPtr<IDispatch> document;
    ComPtr<IHTMLDocument2> html;
    if (browser && SUCCEEDED(browser->get_Document(&document)) && document) document.As(&html);
    return html;
}

void ForEachFrameDocument(IHTMLDocument2& document,
                          const std::function<void(IHTMLDocument2&)>& visit) {
    ComPtr<IHTMLFramesCollection2> frames;
    long length = 0;
    if (FAILED(document.get_frames(&frames)) || !frames || FAILED(frames->get_length(&length))) {
        return;
    }
    for (long index = 0; index < length; ++index) {
        VARIANT position = ScopedVariant::Int32(index).get();
        ScopedVariant frame;
        if (FAILED(frames->item(&position, frame.put())) || frame.type() != VT_DISPATCH ||
            !frame.get().pdispVal) {
            continue;
        }
        ComPtr<IHTMLWindow2> window;
        ComPtr<IHTMLDocument2> frameDocument;
        if (FAILED(frame.get().pdispVal->QueryInterface(IID_PPV_ARGS(&window))) || !window ||
            FAILED(window->get_document(&frameDocument)) || !frameDocument) {
            continue;
        }
        visit(*frameDocument.Get());
    }
}

ComPtr<IHTMLElement> ElementById(IHTMLDocument2& document, const wchar_t* id) {
    ComPtr<IHTMLDocument3> document3;
    ComPtr<IHTMLElement> element;
    const unique_bstr name(::SysAllocString(id));
    if (name && SUCCEEDED(document.QueryInterface(IID_PPV_ARGS(&document3))) && document3) {
        document3->getElementById(name.get(), &element);
    }
    return element;
}

ComPtr<IHTMLStyle> InlineStyleOf(IHTMLElement& element) {
    ComPtr<IHTMLStyle> style;
    element.get_style(&style);
    return style;
}

}  // namespace kvshake
