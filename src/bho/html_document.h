#pragma once

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <functional>
#include <optional>
#include <string>

#include "com/scoped_variant.h"

namespace kvshake {

// Small reads of a page's object model. Each holds what it obtains from the browser for the
// call only; nothing of a page outlives the operation that read it.

// The document that the tab shows, as IHTMLDocument2; null when there is none or it is not HTML.
Microsoft::WRL::ComPtr<IHTMLDocument2> TabDocument(IWebBrowser2* browser);

// A text property read through a BSTR getter; nullopt when the read fails or gives nothing.
template <typename Interface>
std::optional<std::wstring> ReadText(Interface* object,
                                     HRESULT (STDMETHODCALLTYPE Interface::*getter)(BSTR*)) {
    if (!object) return std::nullopt;
    unique_bstr text;
    if (FAILED((object->*getter)(text.put())) || !text) return std::nullopt;
    return std::wstring(text.get(), ::SysStringLen(text.get()));
}

// Calls visit for each item of the collection, in order, that answers Interface; an item that
// cannot be read is skipped.
template <typename Interface, typename Visit>
void ForEachItem(IHTMLElementCollection* collection, Visit&& visit) {
    long length = 0;
    if (!collection || FAILED(collection->get_length(&length))) return;
    for (long index = 0; index < length; ++index) {
        // The index goes as the item's name; the second argument stays empty.
        Microsoft::WRL::ComPtr<IDispatch> item;
        if (FAILED(collection->item(ScopedVariant::Int32(index).get(), ScopedVariant().get(),
                                    &item)) ||
            !item) {
            continue;
        }
        Microsoft::WRL::ComPtr<Interface> view;
        if (SUCCEEDED(item.As(&view)) && view) visit(*view.Get());
    }
}

// Calls visit for the document of each frame of the document, in order; a frame whose window
// does not hand out its document (another site's) is skipped.
void ForEachFrameDocument(IHTMLDocument2& document,
                          const std::function<void(IHTMLDocument2&)>& visit);

// The first element with the id; null when there is none.
Microsoft::WRL::ComPtr<IHTMLElement> ElementById(IHTMLDocument2& document, const wchar_t* id);

// The element's inline style; null when it cannot be read.
Microsoft::WRL::ComPtr<IHTMLStyle> InlineStyleOf(IHTMLElement& element);

}  // namespace kvshake
